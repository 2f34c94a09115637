#pragma once
#include "app/LoginDialogLogic.h"
#include <QDialog>
#include <QGuiApplication>

class MainController;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMovie;
class QPushButton;

// The login dialog: mirrors a LoginForm and forwards every change to LoginDialogLogic.
class Tfrm_login : public QDialog {
    Q_OBJECT
public:
    // held: the keyboard modifiers held while the dialog opens (the maintenance combination).
    explicit Tfrm_login(MainController &controller, QWidget *parent = nullptr,
                        Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers());
    ~Tfrm_login() override;

    QComboBox *accountBox = nullptr;
    QLineEdit *passwordEdit = nullptr;
    QComboBox *gatewayBox = nullptr;
    QLineEdit *serverEdit = nullptr; // the free-text "host:port" field
    QCheckBox *rememberCheck = nullptr;
    QPushButton *loginButton = nullptr;
    QPushButton *cancelButton = nullptr;
    QPushButton *signUpButton = nullptr;
    QPushButton *advancedButton = nullptr;
    QFrame *proxyPanel = nullptr;
    QComboBox *proxyTypeBox = nullptr;
    QLineEdit *proxyHostEdit = nullptr;
    QLineEdit *proxyPortEdit = nullptr;
    QLineEdit *proxyUserEdit = nullptr;
    QLineEdit *proxyPasswordEdit = nullptr;
    QLabel *banner = nullptr;
    QMovie *bannerMovie() const { return m_movie; }

    // "登陆(&L)"
    void login();

signals:
    void signUpRequested();
    void updateCheckRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildBanner();
    QLabel *link(const QString &caption);
    void readForm();
    void writeForm();
    void applySkin();
    void setControlsEnabled(bool on);

    LoginDialogLogic m_logic;
    LoginForm m_form;
    QMovie *m_movie = nullptr;
    bool m_placed = false;
};
