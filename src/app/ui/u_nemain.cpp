#include "app/ui/u_nemain.h"
#include "sending/SendPipeline.h"
#include "sending/ui/ComposePanel.h"
#include "sending/ui/RecipientPanel.h"
#include "sending/ui/SendPage.h"
#include "app/Branding.h"
#include "app/ProviderConfig.h"
#include "app/ui/Artwork.h"
#include "app/ui/AsyncHttp.h"
#include "app/ui/BulletinScroller.h"
#include "app/ui/OnLineFAQForm.h"
#include "app/ui/TimeAutoLoginFrm.h"
#include "app/ui/U_loign.h"
#include "app/ui/WebPanel.h"
#include "common/Clock.h"
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

// A help link label: opens the help window at its anchor.
QLabel *helpLink(const QString &caption, const QString &anchor, QWidget *parent)
{
    auto *l = new QLabel(QStringLiteral("<a href=\"faq\">%1</a>").arg(caption.toHtmlEscaped()), parent);
    l->setObjectName(QStringLiteral("helpLink"));
    l->setProperty("anchor", anchor);
    l->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    QObject::connect(l, &QLabel::linkActivated, l, [anchor] { ShowFaqPage(anchor); });
    return l;
}

// A page that a later piece of the program fills; only its help link (if any) is there yet.
QWidget *page(const QString &name, QWidget *parent, QLabel *link = nullptr)
{
    auto *w = new QWidget(parent);
    w->setObjectName(name);
    auto *v = new QVBoxLayout(w);
    v->addStretch(1);
    if (link) {
        link->setParent(w);
        v->addWidget(link, 0, Qt::AlignRight);
    }
    return w;
}

QLabel *pane(const QString &name, int minWidth, QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setObjectName(name);
    l->setMinimumWidth(minWidth);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    return l;
}

} // namespace

Tfrmmain::Tfrmmain(MainController &controller, const Clock &clock, QWidget *parent)
    : QMainWindow(parent), m_controller(controller), m_clock(clock)
{
    setObjectName(QStringLiteral("frmmain"));
    m_controller.ManualLogout = true;
    const QString product = Branding::productName();
    setWindowTitle(product);

    buildToolBar();
    auto *outer = new QSplitter(Qt::Horizontal, this);
    outer->setObjectName(QStringLiteral("outerSplitter"));
    auto *leftSplit = new QSplitter(Qt::Vertical, outer);
    leftSplit->setObjectName(QStringLiteral("sizeBar")); // the upper area's height is adjustable
    leftSplit->addWidget(buildUpperArea());
    leftSplit->addWidget(buildLowerArea());
    leftSplit->setStretchFactor(0, 3);
    leftSplit->setStretchFactor(1, 2);
    leftSplit->setSizes({420, 280}); // the send page is the main working area
    outer->addWidget(leftSplit);
    outer->addWidget(buildRightSide());
    outer->setStretchFactor(0, 1);
    outer->setStretchFactor(1, 0);
    outer->setSizes({800, 220});
    setCentralWidget(outer);
    buildStatusBar();
    buildTray();

    const QIcon logo = Artwork::productLogo();
    setWindowIcon(logo.isNull() ? Artwork::windowIcon() : logo);

    QRect area(0, 0, 1280, 800);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    resize(qMin(1060, area.width() - 20), qMin(720, area.height() - 40));
    move(area.center() - rect().center());

    applyWebPanels(MainController::WebPanels{});
    startWebPanelCheck();

    connect(toolButton(QStringLiteral("上线")), &QAction::triggered, this,
            [this] { m_controller.onlineClicked(); });
    connect(toolButton(QStringLiteral("下线")), &QAction::triggered, this,
            [this] { m_controller.offlineClicked(); });
    m_controller.setView(this);
    m_controller.SetSMSConnected(false);
}

Tfrmmain::~Tfrmmain()
{
    // Notifications that still arrive find no window.
    m_controller.setView(nullptr);
}

void Tfrmmain::buildToolBar()
{
    m_toolBar = addToolBar(QStringLiteral("toolbar"));
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setMovable(false);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolBar->setIconSize(QSize(24, 24));
    struct Button {
        const char16_t *caption;
        QStyle::StandardPixmap icon;
    };
    static const Button buttons[] = {
        {u"上线", QStyle::SP_MediaPlay},
        {u"下线", QStyle::SP_MediaStop},
        {u"导入号码", QStyle::SP_DialogOpenButton},
        {u"历史", QStyle::SP_FileDialogDetailedView},
        {u"充值", QStyle::SP_DialogApplyButton},
        {u"更改密码", QStyle::SP_DialogResetButton},
        {u"系统设置", QStyle::SP_FileDialogContentsView},
        {u"帮助", QStyle::SP_MessageBoxQuestion},
        {u"检查更新", QStyle::SP_BrowserReload},
        {u"关于", QStyle::SP_MessageBoxInformation},
        {u"退出", QStyle::SP_DialogCloseButton},
    };
    for (const Button &b : buttons) {
        // Every picture at the same size keeps the captions on one line.
        const QPixmap pm = style()->standardIcon(b.icon).pixmap(24).scaled(24, 24, Qt::KeepAspectRatio,
                                                                           Qt::SmoothTransformation);
        QAction *a = m_toolBar->addAction(QIcon(pm), QString::fromUtf16(b.caption));
        a->setObjectName(QString::fromUtf16(b.caption));
    }
    toolButton(QStringLiteral("充值"))->setVisible(false);
    connect(toolButton(QStringLiteral("退出")), &QAction::triggered, this, &QWidget::close);

    m_web[0] = new WebPanel(m_toolBar);
    m_web[0]->setObjectName(QStringLiteral("adBar1"));
    m_web[0]->setFixedHeight(56);
    m_web[0]->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_web[0]->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_web1Action = m_toolBar->addWidget(m_web[0]);
}

QAction *Tfrmmain::toolButton(const QString &caption) const
{
    for (QAction *a : m_toolBar->actions())
        if (a->text() == caption)
            return a;
    return nullptr;
}

QWidget *Tfrmmain::buildUpperArea()
{
    auto *upper = new QWidget(this);
    upper->setObjectName(QStringLiteral("upperArea"));
    auto *v = new QVBoxLayout(upper);
    v->setContentsMargins(4, 4, 4, 0);

    auto *labels = new QHBoxLayout;
    auto label = [&](QLabel *&member, const char *name, const QString &caption) {
        member = new QLabel(caption, upper);
        member->setObjectName(QLatin1String(name));
        member->setMinimumWidth(150);
        labels->addWidget(member);
    };
    label(userNameLabel, "userNameLabel", QStringLiteral("用户名称："));
    label(loginNameLabel, "loginNameLabel", QStringLiteral("登陆账号："));
    label(customerNoLabel, "customerNoLabel", QStringLiteral("客户编号:"));
    label(balanceLabel, "balanceLabel", QStringLiteral("账户余额："));
    labels->addStretch(1);
    v->addLayout(labels);

    m_web[1] = new WebPanel(upper);
    m_web[1]->setObjectName(QStringLiteral("adBar2"));
    m_web[1]->setFixedHeight(80);
    v->addWidget(m_web[1]);

    RzPageControl2 = new QTabWidget(upper);
    RzPageControl2->setObjectName(QStringLiteral("RzPageControl2"));
    RzPageControl2->addTab(
        page(QStringLiteral("sendPage"), RzPageControl2,
             helpLink(QStringLiteral("短信发送常见问题"), QStringLiteral("信息发送"), nullptr)),
        QStringLiteral("信息发送"));
    RzPageControl2->addTab(
        page(QStringLiteral("inboxPage"), RzPageControl2,
             helpLink(QStringLiteral("为什么收不到回复信息"), QStringLiteral("信息接收"), nullptr)),
        QStringLiteral("信息接收"));
    RzPageControl2->addTab(page(QStringLiteral("todayPage"), RzPageControl2), QStringLiteral("今天发送内容"));
    const int last = RzPageControl2->addTab(page(QStringLiteral("lastNumbersPage"), RzPageControl2),
                                            QStringLiteral("上次发送号码"));
    RzPageControl2->setTabVisible(last, false);
    m_birthdayPage = RzPageControl2->addTab(
        page(QStringLiteral("birthdayPage"), RzPageControl2,
             helpLink(QStringLiteral("生日提醒功能如何设置"), QStringLiteral("生日提醒"), nullptr)),
        QString());
    setBirthdayCount(0);
    v->addWidget(RzPageControl2, 1);
    return upper;
}

QWidget *Tfrmmain::buildLowerArea()
{
    contactPages = new QTabWidget(this);
    contactPages->setObjectName(QStringLiteral("contactPages"));
    auto *cards = new QWidget(contactPages);
    cards->setObjectName(QStringLiteral("cardsPage"));
    auto *v = new QVBoxLayout(cards);
    auto *split = new QSplitter(Qt::Horizontal, cards);
    auto *tree = new QTreeView(split);
    tree->setObjectName(QStringLiteral("GroupTree"));
    tree->setHeaderHidden(true);
    auto *list = new QTableView(split);
    list->setObjectName(QStringLiteral("ContactList"));
    list->horizontalHeader()->setStretchLastSection(true);
    split->addWidget(tree);
    split->addWidget(list);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 3);
    v->addWidget(split, 1);
    hideDetailsCheck =
        new QCheckBox(QStringLiteral("不显示详细用户资料(大数据量时可避免显示过程过于耗时)"), cards);
    hideDetailsCheck->setObjectName(QStringLiteral("hideDetailsCheck"));
    v->addWidget(hideDetailsCheck);
    contactPages->addTab(cards, QStringLiteral("名片夹管理(右键操作)"));
    return contactPages;
}

QWidget *Tfrmmain::buildRightSide()
{
    auto *right = new QWidget(this);
    right->setObjectName(QStringLiteral("rightSide"));
    right->setMinimumWidth(180);
    auto *v = new QVBoxLayout(right);
    v->setContentsMargins(0, 4, 4, 0);

    bulletinPanel = new QFrame(right);
    bulletinPanel->setObjectName(QStringLiteral("bulletinPanel"));
    static_cast<QFrame *>(bulletinPanel)->setFrameShape(QFrame::StyledPanel);
    auto *bv = new QVBoxLayout(bulletinPanel);
    bv->setContentsMargins(0, 0, 0, 0);
    bv->setSpacing(0);
    auto *head = new QLabel(QStringLiteral("公告"), bulletinPanel);
    head->setObjectName(QStringLiteral("bulletinHeading"));
    head->setAlignment(Qt::AlignCenter);
    head->setStyleSheet(QStringLiteral("background:#2b5ca8; color:white; font-weight:bold; padding:4px;"));
    bv->addWidget(head);
    bulletinText = new BulletinScroller(bulletinPanel);
    bulletinText->setObjectName(QStringLiteral("bulletinText"));
    bv->addWidget(bulletinText, 1);
    v->addWidget(bulletinPanel, 1);

    m_web[2] = new WebPanel(right);
    m_web[2]->setObjectName(QStringLiteral("adBar3"));
    v->addWidget(m_web[2], 1);
    return right;
}

void Tfrmmain::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    connectionPane = pane(QStringLiteral("connectionPane"), 160, bar);
    resultPane = pane(QStringLiteral("resultPane"), 200, bar);
    clockPane = pane(QStringLiteral("clockPane"), 190, bar);
    clockPane->setAlignment(Qt::AlignCenter);
    progressBar = new QProgressBar(bar);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setFixedWidth(180);
    progressBar->setValue(0);
    bar->addWidget(connectionPane);
    bar->addWidget(resultPane, 1);
    bar->addPermanentWidget(clockPane);
    bar->addPermanentWidget(progressBar);
    tickClock();
    m_clockTimer.setInterval(1000);
    connect(&m_clockTimer, &QTimer::timeout, this, &Tfrmmain::tickClock);
    m_clockTimer.start();
}

void Tfrmmain::tickClock()
{
    clockPane->setText(m_clock.now().toString(QStringLiteral("yyyy年MM月dd日 HH:mm:ss")));
}

void Tfrmmain::buildTray()
{
    const QIcon logo = Artwork::productLogo();
    trayIcon = new QSystemTrayIcon(logo.isNull() ? Artwork::builtInIcon() : logo, this);
    trayIcon->setObjectName(QStringLiteral("trayIcon"));
    trayIcon->setToolTip(Branding::productName());
    connect(trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && m_trayEnabled) {
            showNormal();
            raise();
            activateWindow();
        }
    });
}

void Tfrmmain::setTrayEnabled(bool on)
{
    m_trayEnabled = on;
    trayIcon->setVisible(on && QSystemTrayIcon::isSystemTrayAvailable());
}

void Tfrmmain::setBirthdayCount(int count)
{
    RzPageControl2->setTabText(m_birthdayPage, QStringLiteral("生日提醒(%1)").arg(count));
}

bool Tfrmmain::webPanelVisible(int n) const
{
    return n == 1 ? m_web1Action->isVisible() : !m_web[n - 1]->isHidden();
}

void Tfrmmain::applyWebPanels(const MainController::WebPanels &plan)
{
    for (int i = 0; i < 3; ++i) {
        const bool shown = plan.shown(i);
        if (shown)
            m_web[i]->load(plan.urls[size_t(i)]);
        if (i == 0)
            m_web1Action->setVisible(shown);
        else
            m_web[i]->setVisible(shown);
    }
    bulletinPanel->setVisible(!plan.hideBulletin);
}

void Tfrmmain::startWebPanelCheck()
{
    const ProviderConfig config = ProviderConfig::load();
    runAsync(
        this, [config] { return MainController::providerReachable(config); },
        [this](bool reachable) {
            applyWebPanels(MainController::planWebPanels(reachable));
            m_webCheckDone = true;
        });
}

void Tfrmmain::setSessionLabels(const QString &userName, const QString &loginName, const QString &customerNo,
                                const QString &balance)
{
    userNameLabel->setText(userName);
    loginNameLabel->setText(loginName);
    customerNoLabel->setText(customerNo);
    balanceLabel->setText(balance);
}

void Tfrmmain::setBalanceLabel(const QString &text)
{
    balanceLabel->setText(text);
}

void Tfrmmain::setConnectionPane(const QString &text, PaneColor color)
{
    const char *name = color == PaneColor::Red ? "red" : color == PaneColor::Green ? "green" : "black";
    connectionPane->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(name)));
    connectionPane->setText(text);
}

void Tfrmmain::setResultPane(const QString &text)
{
    resultPane->setText(text);
}

void Tfrmmain::setWorkingAreasEnabled(bool on)
{
    contactPages->setEnabled(on);
    RzPageControl2->setEnabled(on);
    for (const char16_t *caption : {u"导入号码", u"充值", u"历史", u"更改密码", u"系统设置"})
        toolButton(QString::fromUtf16(caption))->setEnabled(on);
    toolButton(QStringLiteral("上线"))->setEnabled(!on);
    toolButton(QStringLiteral("下线"))->setEnabled(on);
}

void Tfrmmain::setBulletin(const QString &text)
{
    bulletinText->setText(text);
}

void Tfrmmain::setReminderContentHeading(const QString &text)
{
    m_reminderHeading = text;
}

void Tfrmmain::showMainWindow()
{
    m_inTray = false;
    if (QMainWindow::isMinimized())
        showNormal();
    else
        show();
}

void Tfrmmain::hideToTray()
{
    m_inTray = true;
    hide();
}

bool Tfrmmain::isMinimized() const
{
    return QMainWindow::isMinimized() || (m_inTray && isHidden());
}

bool Tfrmmain::showReloginCountdown(int seconds)
{
    TTimeAutoLoginFrm countdown(seconds, this, countdownPeriodMs);
    return countdown.exec() == QDialog::Accepted;
}

bool Tfrmmain::showLoginDialog()
{
    Tfrm_login dialog(m_controller, this, loginModifiers.value_or(QGuiApplication::queryKeyboardModifiers()));
    // Modal to this window only, so the help window its links open stays usable.
    dialog.setWindowModality(Qt::WindowModal);
    return dialog.exec() == QDialog::Accepted;
}

void Tfrmmain::installSendPage(SendPage *page, SendPipeline &pipeline)
{
    QWidget *old = RzPageControl2->widget(0);
    RzPageControl2->removeTab(0);
    RzPageControl2->insertTab(0, page, QStringLiteral("信息发送"));
    RzPageControl2->setCurrentIndex(0);
    old->deleteLater();
    m_sendPage = page;
    connect(page, &SendPage::helpRequested, this, [](const QString &anchor) { ShowFaqPage(anchor); });
    if (QAction *import = toolButton(QStringLiteral("导入号码")))
        connect(import, &QAction::triggered, page, [page] { page->recipients->N10Click(); });
    // At each session start the field menu follows the contact columns and the counters the
    // part limits of the new login.
    auto previous = m_controller.hooks.rebuildCustomColumns;
    m_controller.hooks.rebuildCustomColumns = [previous, page] {
        if (previous)
            previous();
        page->compose->rebuildInsertFieldMenu();
        page->compose->RzMemo1Change();
    };
    Dispatch &d = pipeline.dispatch;
    d.onProgress = [this](int complete, int total) {
        progressBar->setMaximum(qMax(total, 1));
        progressBar->setValue(total > 0 ? qMin(complete, total) : 0);
    };
    d.onStatus = [this](const QString &text) { setResultPane(text); };
    d.onBalance = [this](const QString &text) { setBalanceLabel(text); };
    d.onPagesEnabled = [this](bool on) { RzPageControl2->setEnabled(on); };
    pipeline.queue.setPagesEnabled = [this](bool on) { RzPageControl2->setEnabled(on); };
}

void Tfrmmain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    m_inTray = false;
    if (event->spontaneous())
        return; // the window manager restoring it is not a new showing
    if (m_sendPage)
        m_sendPage->resetTimePickers();
    setTrayEnabled(true);
    m_controller.FormShow();
}

void Tfrmmain::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (m_closed)
        return;
    m_closed = true;
    m_clockTimer.stop();
    m_controller.FormClose();
    setTrayEnabled(false);
    emit closed();
}
