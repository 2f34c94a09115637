-- Empty customer database at the program's current version (SQLite).
-- The program copies it for every new customer and then adds the version row.

CREATE TABLE 类别表 (
  编号 INTEGER PRIMARY KEY AUTOINCREMENT,
  编码 varchar(50) NOT NULL,
  名称 varchar(100),
  父级 varchar(50) DEFAULT '0',
  次序 integer DEFAULT 0,
  级次 integer DEFAULT 1,
  全名 varchar(255),
  数量 integer DEFAULT 0
);

CREATE TABLE 用户表 (
  编号 INTEGER PRIMARY KEY AUTOINCREMENT,
  类别 varchar(50),
  手机 varchar(30),
  姓名 varchar(50),
  备注 text,
  生日 datetime,
  是农历 varchar(1) DEFAULT 0,
  生日提醒 integer DEFAULT 0,
  加入时间 datetime,
  到期时间 datetime
);

CREATE TABLE 自定义名片列 ( 名称 varchar(255) PRIMARY KEY ,类型 integer not null );

CREATE TABLE 临时发送内容表 ( 编号 integer PRIMARY KEY, 内容 text );
INSERT INTO 临时发送内容表 VALUES (1, '');

CREATE TABLE 发送缓存表 (
  编号 INTEGER PRIMARY KEY AUTOINCREMENT,
  号码 varchar(30),
  姓名 varchar(50),
  组别 varchar(100),
  内容 integer,
  字数 integer,
  等级 integer DEFAULT 0,
  定时时间 datetime,
  创建时间 datetime,
  类型 varchar(20) DEFAULT '普通'
);

-- Filled by "insert into 发送历史缓存表 select * from 发送缓存表": same columns, same order.
CREATE TABLE 发送历史缓存表 (
  编号 integer,
  号码 varchar(30),
  姓名 varchar(50),
  组别 varchar(100),
  内容 integer,
  字数 integer,
  等级 integer DEFAULT 0,
  定时时间 datetime,
  创建时间 datetime,
  类型 varchar(20) DEFAULT '普通'
);

CREATE TABLE 发送内容历史表 (
  编号 INTEGER PRIMARY KEY AUTOINCREMENT,
  内容 text,
  时间 datetime
);

CREATE TABLE 要发内容表 (
  编号 INTEGER PRIMARY KEY AUTOINCREMENT,
  内容 text
);

CREATE TABLE 要发缓存表 (
  号码 varchar(30),
  姓名 varchar(50),
  组别 varchar(100),
  内容 integer,
  字数 integer,
  等级 integer DEFAULT 0,
  定时时间 datetime,
  创建时间 datetime,
  分割条数 integer,
  类型 varchar(20) DEFAULT '普通'
);

CREATE TABLE 临时缓存表 (
  号码 varchar(30),
  姓名 varchar(50),
  组别 varchar(100),
  内容 integer,
  字数 integer,
  等级 integer DEFAULT 0,
  定时时间 datetime,
  创建时间 datetime,
  分割条数 integer,
  类型 varchar(20) DEFAULT '普通'
);

CREATE TABLE 发送内容表 (
  子号 integer,
  群发号 varchar(50),
  内容 text
);

-- Column order as an upgraded database has it (类型 was added last).
CREATE TABLE 历史表 (
  编号 INTEGER PRIMARY KEY AUTOINCREMENT,
  群发编号 varchar(50),
  号码 varchar(30),
  状态 varchar(20),
  时间 datetime,
  组别 varchar(100),
  姓名 varchar(50),
  字数 integer,
  内容 integer,
  分割条数 integer,
  报告 varchar(20),
  类型 varchar(20) DEFAULT '普通'
);

CREATE TABLE 发送历史表 (
  编号 INTEGER PRIMARY KEY AUTOINCREMENT,
  号码 text,
  内容 text,
  定时时间 varchar(20),
  发送时间 varchar(20),
  msID varchar(50),
  类型 varchar(20) DEFAULT '普通'
);

CREATE TABLE 状态报告表 (
  源号码 varchar(30),
  号码 varchar(30),
  错误代码 integer,
  状态 varchar(20),
  MSID varchar(50),
  完成时间 varchar(10),
  发送时间 varchar(10)
);

CREATE TABLE 收信表 (
  源号码 varchar(30),
  内容 text,
  目的号码 varchar(30),
  标记 integer DEFAULT 0,
  创建时间 datetime,
  类别 varchar(100),
  姓名 varchar(20)
);

CREATE TABLE 过滤表 ( 内容 varchar(255) );

CREATE TABLE 系统信息 ( 数据库版本号 varchar(10) );

CREATE INDEX "要发缓存表_id_hm" ON 要发缓存表("号码");
CREATE INDEX "要发缓存表_id_nr" ON 要发缓存表("内容");
CREATE INDEX "要发缓存表_id_sj" ON 要发缓存表("定时时间");
CREATE INDEX "发送缓存表_id_hm" ON 发送缓存表("号码");
CREATE INDEX "发送缓存表_id_nr" ON 发送缓存表("内容");
CREATE INDEX "历史表_id_bh" ON 历史表("群发编号");
CREATE INDEX "历史表_id_nr" ON 历史表("内容");
CREATE INDEX "历史表_id_sj" ON 历史表("时间");
CREATE INDEX "发送内容表_id_zh" ON 发送内容表("子号");
CREATE INDEX "发送内容表_id_qfh" ON 发送内容表("群发号");
-- The dispatch takes the queue in this order, a batch at a time.
CREATE INDEX "要发缓存表_id_order" ON 要发缓存表("内容","号码","类型");

CREATE VIEW v_user AS SELECT 类别表.编码 AS 编码, 类别表.父级 AS 父级, 类别表.名称 AS 类别 ,用户表.编号,手机,备注,生日提醒,生日,是农历,姓名,加入时间,到期时间 FROM 用户表 INNER JOIN 类别表 ON 用户表.类别 = 类别表.编码;

CREATE VIEW v_history AS SELECT a.编号, a.群发编号, a.号码, a.状态, a.时间, a.组别, a.姓名, a.字数, b.内容, a.分割条数, a.类型 FROM 历史表 AS a ,发送内容表 AS b where (a.内容=b.子号) AND (a.群发编号=b.群发号) AND (a.群发编号<>'' );

-- The system folders of the contact book.
INSERT INTO 类别表 (编码, 名称, 父级, 次序, 级次, 全名, 数量) VALUES ('01', '客户', '0', 1, 1, '客户', 0);
INSERT INTO 类别表 (编码, 名称, 父级, 次序, 级次, 全名, 数量) VALUES ('02', '同事', '0', 2, 1, '同事', 0);
INSERT INTO 类别表 (编码, 名称, 父级, 次序, 级次, 全名, 数量) VALUES ('03', '新联系人', '0', 3, 1, '新联系人', 0);
INSERT INTO 类别表 (编码, 名称, 父级, 次序, 级次, 全名, 数量) VALUES ('04', '亲友', '0', 4, 1, '亲友', 0);
