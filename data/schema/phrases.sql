-- The shared phrase database: greeting phrases by category and the holiday table.
CREATE TABLE 分类表 ( 编号 integer PRIMARY KEY, 类别 varchar(50) NOT NULL );
CREATE TABLE 短语表 ( 编码 integer PRIMARY KEY, 内容 text NOT NULL, 类编码 integer NOT NULL );
CREATE TABLE 节日表 ( 编号 integer PRIMARY KEY, 农历 integer NOT NULL, 月 integer NOT NULL, 日 integer NOT NULL, 节日名称 varchar(50) NOT NULL, 可用类别 text );
CREATE INDEX "短语表_id_lbm" ON 短语表("类编码");
