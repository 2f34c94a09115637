#include "app/ui/U_loign.h"
#include "app/Branding.h"
#include "app/MainController.h"
#include "app/ui/Artwork.h"
#include "app/ui/OnLineFAQForm.h"
#include "common/HomeFolder.h"
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {
constexpr int kBannerWidth = 420;
constexpr int kBannerHeight = 90;
} // namespace

Tfrm_login::Tfrm_login(MainController &controller, QWidget *parent, Qt::KeyboardModifiers held)
    : QDialog(parent), m_logic(controller.dm(), controller)
{
    setObjectName(QStringLiteral("frm_login"));
    setWindowTitle(QStringLiteral("用户登陆"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 10);
    outer->setSpacing(8);
    buildBanner();
    outer->addWidget(banner, 0, Qt::AlignHCenter);

    auto *form = new QGridLayout;
    form->setContentsMargins(24, 4, 24, 0);
    form->setHorizontalSpacing(10);
    form->setVerticalSpacing(8);
    accountBox = new QComboBox(this);
    accountBox->setObjectName(QStringLiteral("accountBox"));
    accountBox->setEditable(true);
    accountBox->setInsertPolicy(QComboBox::NoInsert);
    accountBox->lineEdit()->setMaxLength(50);
    passwordEdit = new QLineEdit(this);
    passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    passwordEdit->setEchoMode(QLineEdit::Password);
    passwordEdit->setMaxLength(50);
    gatewayBox = new QComboBox(this);
    gatewayBox->setObjectName(QStringLiteral("gatewayBox"));
    gatewayBox->addItems(LoginDialogLogic::gatewayEntries());
    serverEdit = new QLineEdit(this);
    serverEdit->setObjectName(QStringLiteral("serverEdit"));
    serverEdit->setPlaceholderText(QStringLiteral("主机:端口"));
    serverEdit->hide();
    rememberCheck = new QCheckBox(QStringLiteral("记住密码"), this);
    rememberCheck->setObjectName(QStringLiteral("rememberCheck"));
    form->addWidget(new QLabel(QStringLiteral("我的账号"), this), 0, 0);
    form->addWidget(accountBox, 0, 1);
    form->addWidget(new QLabel(QStringLiteral("我的密码"), this), 1, 0);
    form->addWidget(passwordEdit, 1, 1);
    form->addWidget(new QLabel(QStringLiteral("选择网关"), this), 2, 0);
    auto *server = new QHBoxLayout;
    server->addWidget(gatewayBox, 1);
    server->addWidget(serverEdit, 1);
    server->addSpacing(8);
    server->addWidget(rememberCheck);
    form->addLayout(server, 2, 1);
    form->setColumnStretch(1, 1);
    outer->addLayout(form);

    auto *links = new QHBoxLayout;
    links->setContentsMargins(24, 0, 24, 0);
    QLabel *update = link(QStringLiteral("检查更新"));
    connect(update, &QLabel::linkActivated, this, &Tfrm_login::updateCheckRequested);
    QLabel *why = link(QStringLiteral("为什么登陆不上?"));
    connect(why, &QLabel::linkActivated, this, [] { ShowFaqPage(QStringLiteral("软件登录")); });
    QLabel *how = link(QStringLiteral("如何使用代理服务器登陆？"));
    connect(how, &QLabel::linkActivated, this, [] { ShowFaqPage(QString()); });
    links->addWidget(update);
    links->addStretch(1);
    links->addWidget(why);
    links->addSpacing(12);
    links->addWidget(how);
    outer->addLayout(links);

    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(24, 0, 24, 0);
    signUpButton = new QPushButton(QStringLiteral("申请账号(&R)"), this);
    advancedButton = new QPushButton(QStringLiteral("高级设置(&A)"), this);
    loginButton = new QPushButton(QStringLiteral("登陆(&L)"), this);
    cancelButton = new QPushButton(QStringLiteral("取消(&C)"), this);
    for (QPushButton *b : {signUpButton, advancedButton, cancelButton})
        b->setAutoDefault(false);
    loginButton->setDefault(true);
    signUpButton->setVisible(!Branding::agentBriefCorpName().trimmed().isEmpty());
    buttons->addWidget(signUpButton);
    buttons->addWidget(advancedButton);
    buttons->addStretch(1);
    buttons->addWidget(loginButton);
    buttons->addWidget(cancelButton);
    outer->addLayout(buttons);

    proxyPanel = new QFrame(this);
    proxyPanel->setObjectName(QStringLiteral("proxyPanel"));
    proxyPanel->setFrameShape(QFrame::StyledPanel);
    auto *pg = new QGridLayout(proxyPanel);
    pg->setContentsMargins(12, 10, 12, 10);
    pg->setHorizontalSpacing(8);
    proxyTypeBox = new QComboBox(proxyPanel);
    proxyTypeBox->setObjectName(QStringLiteral("proxyTypeBox"));
    proxyTypeBox->addItems(LoginDialogLogic::proxyTypes());
    proxyHostEdit = new QLineEdit(proxyPanel);
    proxyHostEdit->setObjectName(QStringLiteral("proxyHostEdit"));
    proxyPortEdit = new QLineEdit(QStringLiteral("0"), proxyPanel);
    proxyPortEdit->setObjectName(QStringLiteral("proxyPortEdit"));
    proxyPortEdit->setMaximumWidth(80);
    proxyUserEdit = new QLineEdit(proxyPanel);
    proxyUserEdit->setObjectName(QStringLiteral("proxyUserEdit"));
    proxyPasswordEdit = new QLineEdit(proxyPanel);
    proxyPasswordEdit->setObjectName(QStringLiteral("proxyPasswordEdit"));
    proxyPasswordEdit->setEchoMode(QLineEdit::Password);
    pg->addWidget(new QLabel(QStringLiteral("类型"), proxyPanel), 0, 0);
    pg->addWidget(proxyTypeBox, 0, 1);
    pg->addWidget(new QLabel(QStringLiteral("地址"), proxyPanel), 1, 0);
    pg->addWidget(proxyHostEdit, 1, 1);
    pg->addWidget(new QLabel(QStringLiteral("端口"), proxyPanel), 1, 2);
    pg->addWidget(proxyPortEdit, 1, 3);
    pg->addWidget(new QLabel(QStringLiteral("用户"), proxyPanel), 2, 0);
    pg->addWidget(proxyUserEdit, 2, 1);
    pg->addWidget(new QLabel(QStringLiteral("密码"), proxyPanel), 2, 2);
    pg->addWidget(proxyPasswordEdit, 2, 3);
    pg->setColumnStretch(1, 1);
    auto *proxyRow = new QHBoxLayout;
    proxyRow->setContentsMargins(24, 0, 24, 0);
    proxyRow->addWidget(proxyPanel);
    outer->addLayout(proxyRow);
    proxyPanel->hide();
    outer->setSizeConstraint(QLayout::SetFixedSize);

    connect(loginButton, &QPushButton::clicked, this, &Tfrm_login::login);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(signUpButton, &QPushButton::clicked, this, &Tfrm_login::signUpRequested);
    connect(advancedButton, &QPushButton::clicked, this,
            [this] { proxyPanel->setVisible(proxyPanel->isHidden()); });
    connect(accountBox, &QComboBox::currentTextChanged, this, [this] {
        readForm();
        if (m_logic.accountChanged(m_form)) {
            writeForm();
            applySkin();
        }
    });
    connect(proxyTypeBox, &QComboBox::activated, this, [this] {
        readForm();
        m_logic.proxyTypeChanged(m_form);
        writeForm();
    });

    m_form = m_logic.initialForm(LoginDialogLogic::isMaintenanceCombination(held));
    writeForm();
    applySkin();
    if (m_form.freeServerShown) {
        gatewayBox->hide();
        serverEdit->show();
    }
    (accountBox->currentText().isEmpty() ? static_cast<QWidget *>(accountBox) : passwordEdit)->setFocus();
}

Tfrm_login::~Tfrm_login() = default;

void Tfrm_login::buildBanner()
{
    banner = new QLabel(this);
    banner->setObjectName(QStringLiteral("banner"));
    banner->setAlignment(Qt::AlignCenter);
    const QString gif = HomeFolder::file(QStringLiteral("loginA.gif"));
    if (QFileInfo::exists(gif)) {
        m_movie = new QMovie(gif, QByteArray(), this);
        if (m_movie->isValid()) {
            m_movie->jumpToFrame(0);
            const QSize s = m_movie->currentImage().size();
            banner->setFixedSize(s.isEmpty() ? QSize(kBannerWidth, kBannerHeight) : s);
            banner->setMovie(m_movie);
            m_movie->start();
            return;
        }
        delete m_movie;
        m_movie = nullptr;
    }
    banner->setFixedSize(kBannerWidth, kBannerHeight);
    banner->setPixmap(Artwork::builtInLoginBanner(Branding::productName(), banner->size()));
}

QLabel *Tfrm_login::link(const QString &caption)
{
    auto *l = new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(caption.toHtmlEscaped()), this);
    l->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return l;
}

void Tfrm_login::readForm()
{
    m_form.account = accountBox->currentText();
    m_form.password = passwordEdit->text();
    m_form.rememberPassword = rememberCheck->isChecked();
    m_form.gatewayIndex = gatewayBox->currentIndex();
    m_form.freeServer = serverEdit->text();
    m_form.proxyType = proxyTypeBox->currentText();
    m_form.proxyHost = proxyHostEdit->text();
    m_form.proxyPort = proxyPortEdit->text();
    m_form.proxyUser = proxyUserEdit->text();
    m_form.proxyPassword = proxyPasswordEdit->text();
}

void Tfrm_login::writeForm()
{
    const QSignalBlocker b1(accountBox), b2(proxyTypeBox), b3(gatewayBox);
    if (accountBox->count() != m_form.accounts.size()) {
        accountBox->clear();
        accountBox->addItems(m_form.accounts);
    }
    const int i = m_form.accounts.indexOf(m_form.account);
    if (i >= 0)
        accountBox->setCurrentIndex(i);
    else if (accountBox->currentText() != m_form.account)
        accountBox->setEditText(m_form.account);
    passwordEdit->setText(m_form.password);
    rememberCheck->setChecked(m_form.rememberPassword);
    gatewayBox->setCurrentIndex(m_form.gatewayIndex);
    serverEdit->setText(m_form.freeServer);
    proxyTypeBox->setCurrentIndex(qMax(0, proxyTypeBox->findText(m_form.proxyType)));
    proxyHostEdit->setText(m_form.proxyHost);
    proxyPortEdit->setText(m_form.proxyPort);
    proxyUserEdit->setText(m_form.proxyUser);
    proxyPasswordEdit->setText(m_form.proxyPassword);
}

void Tfrm_login::applySkin()
{
    if (m_form.skinFile.isEmpty())
        return;
    QFile f(m_form.skinFile);
    if (f.open(QIODevice::ReadOnly))
        qApp->setStyleSheet(QString::fromUtf8(f.readAll()));
}

void Tfrm_login::setControlsEnabled(bool on)
{
    // The controls rather than the dialog: a message box shown meanwhile is the dialog's child
    // and must stay usable.
    for (QWidget *w : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        if (!w->isWindow())
            w->setEnabled(on);
}

void Tfrm_login::login()
{
    if (!loginButton->isEnabled())
        return;
    readForm();
    setControlsEnabled(false);
    bool ok = false;
    try {
        ok = m_logic.submit(m_form);
    } catch (...) {
        setControlsEnabled(true);
        throw;
    }
    if (ok) {
        accept();
    } else {
        setControlsEnabled(true);
        (m_form.freeServerShown ? serverEdit : static_cast<QWidget *>(passwordEdit))->setFocus();
    }
}

void Tfrm_login::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_placed)
        return;
    m_placed = true;
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - frameGeometry().center() + pos());
}
