#include "gateway/GSMIAPUnt.h"
#include <gtest/gtest.h>

using namespace Gateway;

TEST(GatewayStatusText, LooksUpBothTablesThenFallsBack)
{
    const std::pair<quint32, QString> cases[] = {
        {0, QStringLiteral("成功")},
        {4, QStringLiteral("命令长度错误 ")}, // trailing blanks are part of these texts
        {10, QStringLiteral("地址错误 ")},
        {12, QStringLiteral("超过最大下发数 ")},
        {13, QStringLiteral("无效的用户 ")},
        {4097, QStringLiteral("无效的用户名 ")},
        {128, QStringLiteral("指定用户已经存在,请稍候再试或更换网关登录")},
        {12289, QStringLiteral("点数不够")},
        {0x100002, QStringLiteral("流量控制错")},
        {SMS_WAITRESP_TIMEOUT, QStringLiteral("等待响应超时")},
        {380, QStringLiteral("属性值无效。")},
        {10049, QStringLiteral("Can' t assign requested address")},
        {10054, QStringLiteral("Connection reset by peer 连接被防火樯或proxy中断")},
        {11003, QStringLiteral("Non - Recoverable errors: formERR, REFUSED, NOTIMP")},
        {40014, QStringLiteral("传递给函数的参数格式不确定，或者不在指定范围内。")},
        {40026, QStringLiteral("所请求的事务或请求本身的错误协议")},
        {7, QStringLiteral("未知错误代码： 7")},
        {25, QStringLiteral("未知错误代码： 25")},
        {0xFFFFFFFF, QStringLiteral("未知错误代码： 4294967295")},
    };
    for (const auto &[code, text] : cases)
        EXPECT_EQ(GetStatusText(code), text) << code;
}

TEST(GatewayStatusText, ErrTextReadsLastErrorTextAtCallTime)
{
    SetLastErrorText(QStringLiteral("Socket异常: 登录失败"));
    EXPECT_EQ(GetStatusText(SMS_ERR_TEXT), QStringLiteral("Socket异常: 登录失败"));
    SetLastErrorText(QStringLiteral("http代理连接目标服务器失败,原因未知"));
    EXPECT_EQ(GetStatusText(SMS_ERR_TEXT), QStringLiteral("http代理连接目标服务器失败,原因未知"));

    SetLastErrorText(QString());
}
