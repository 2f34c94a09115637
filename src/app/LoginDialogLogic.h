#pragma once
#include <QString>
#include <QStringList>
#include <Qt>

class TDataM;
class MainController;

// Everything the login dialog shows and the user can change; the widgets only mirror it.
struct LoginForm {
    QStringList accounts; // remembered accounts, in order
    QString account;
    QString password;
    bool rememberPassword = false;
    int gatewayIndex = 0;         // into LoginDialogLogic::gatewayEntries()
    bool freeServerShown = false; // the maintenance field replaces the gateway list
    QString freeServer;           // "host:port"
    QString proxyType;            // one of LoginDialogLogic::proxyTypes()
    QString proxyHost;
    QString proxyPort = QStringLiteral("0");
    QString proxyUser;
    QString proxyPassword;
    QString skinFile; // a style sheet file to apply, empty when none
};

// The login dialog's behaviour over the settings and the login routine, without widgets.
class LoginDialogLogic {
public:
    LoginDialogLogic(TDataM &dm, MainController &controller) : m_dm(dm), m_controller(controller) {}

    static QStringList gatewayEntries();
    // "SOCKS4A" is offered too: the protocol client and the web client both support it.
    static QStringList proxyTypes();
    static QString noProxy() { return QStringLiteral("不使用代理"); }
    // Ctrl and Shift held together while the dialog opens reveal the free-text server field.
    static bool isMaintenanceCombination(Qt::KeyboardModifiers held);

    // The form when the dialog opens: gateway, accounts, the selected account's values.
    LoginForm initialForm(bool maintenance);
    // The account text changed; acts only when it names a remembered account. True when it did.
    bool accountChanged(LoginForm &form);
    // The user chose form.proxyType.
    void proxyTypeChanged(LoginForm &form);
    // The server text handed to the login routine.
    QString serverText(const LoginForm &form) const;
    // Runs the login routine; false leaves the dialog open (the reason has been shown).
    bool submit(const LoginForm &form);

private:
    TDataM &m_dm;
    MainController &m_controller;
};
