#include "sending/ui/U_imphm.h"
#include "app/ui/OnLineFAQForm.h"
#include "common/Prompter.h"
#include "common/VelaroError.h"
#include "sending/NumberImport.h"
#include "sending/SendList.h"
#include <QAbstractTableModel>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// One read-only column of values; long values are cut for display only.
class ValuesModel : public QAbstractTableModel {
public:
    ValuesModel(QString field, QStringList values, QObject *parent)
        : QAbstractTableModel(parent), m_field(std::move(field)), m_values(std::move(values))
    {
    }
    int rowCount(const QModelIndex &p) const override { return p.isValid() ? 0 : int(m_values.size()); }
    int columnCount(const QModelIndex &p) const override { return p.isValid() ? 0 : 1; }
    QVariant data(const QModelIndex &i, int role) const override
    {
        if (role != Qt::DisplayRole || !i.isValid())
            return QVariant();
        const QString &v = m_values[i.row()];
        return v.size() > 200 ? v.left(200) + QStringLiteral("…") : v;
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override
    {
        if (role != Qt::DisplayRole)
            return QVariant();
        return o == Qt::Horizontal ? QVariant(m_field) : QVariant(section + 1);
    }

private:
    QString m_field;
    QStringList m_values;
};

} // namespace

TPreviewDataForm::TPreviewDataForm(const QString &field, const QStringList &values, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("预览数据"));
    grid = new QTableView(this);
    grid->setModel(new ValuesModel(field, values, grid));
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->horizontalHeader()->setStretchLastSection(true);
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
    footer = new QLabel(QStringLiteral("共 %1 行").arg(values.size()), this);
    footer->setFrameShape(QFrame::StyledPanel);

    auto *nav = new QHBoxLayout;
    auto addNav = [&](const QString &text, const QString &tip, std::function<int(int)> target) {
        auto *b = new QToolButton(this);
        b->setText(text);
        b->setToolTip(tip);
        nav->addWidget(b);
        connect(b, &QToolButton::clicked, this, [this, target] {
            const int rows = grid->model()->rowCount();
            if (!rows)
                return;
            const int row = std::clamp(target(grid->currentIndex().row()), 0, rows - 1);
            grid->setCurrentIndex(grid->model()->index(row, 0));
        });
    };
    addNav(QStringLiteral("|◀"), QStringLiteral("第一条"), [](int) { return 0; });
    addNav(QStringLiteral("◀"), QStringLiteral("上一条"), [](int r) { return r - 1; });
    addNav(QStringLiteral("▶"), QStringLiteral("下一条"), [](int r) { return r + 1; });
    addNav(QStringLiteral("▶|"), QStringLiteral("最后一条"), [](int) { return INT_MAX; });
    nav->addStretch();
    auto *close = new QPushButton(QStringLiteral("关闭(&C)"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    nav->addWidget(close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(grid, 1);
    layout->addWidget(footer);
    layout->addLayout(nav);
    resize(360, 420);
}

QString Tfrm_imphm::fileFilter()
{
    return QStringLiteral(
        "电话号码文件 (*.xls *.xlsx *.txt *.csv);;MS Excel 文件 (*.xls *.xlsx);;文本文件 (*.txt *.csv)");
}

Tfrm_imphm::Tfrm_imphm(SendList &list, Prompter &prompter, QWidget *parent)
    : QDialog(parent), m_list(list), m_prompter(prompter), m_import(std::make_unique<NumberImport>(list))
{
    setWindowTitle(QStringLiteral("导入号码"));
    m_import->keepReading = [this] {
        QApplication::processEvents();
        return !m_cancel.load();
    };

    auto *fileGroup = new QGroupBox(QStringLiteral("文件选择"), this);
    edt1 = new QLineEdit(fileGroup);
    edt1->setReadOnly(true);
    btn1 = new QPushButton(QStringLiteral("..."), fileGroup);
    btn1->setFixedWidth(btn1->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    CheckBox1 = new QCheckBox(QStringLiteral("首行就是手机号码"), fileGroup);
    CheckBox1->setChecked(true);
    BitBtn1 = new QPushButton(QStringLiteral("高级(&A) >>"), fileGroup);
    Label1 = new QLabel(QStringLiteral("有效号码个数："), fileGroup);
    auto *fg = new QGridLayout(fileGroup);
    fg->addWidget(new QLabel(QStringLiteral("选择要导入的文件:"), fileGroup), 0, 0, 1, 3);
    fg->addWidget(edt1, 1, 0, 1, 2);
    fg->addWidget(btn1, 1, 2);
    fg->addWidget(CheckBox1, 2, 0);
    fg->addWidget(BitBtn1, 2, 1, 1, 2, Qt::AlignRight);
    fg->addWidget(Label1, 3, 0, 1, 3);
    fg->setColumnStretch(0, 1);

    Panel1 = new QWidget(this);
    tableGroup = new QGroupBox(QStringLiteral("选择表名"), Panel1);
    cbb1 = new QComboBox(tableGroup);
    auto *tg = new QHBoxLayout(tableGroup);
    tg->addWidget(new QLabel(QStringLiteral("表名:"), tableGroup));
    tg->addWidget(cbb1, 1);
    fieldGroup = new QGroupBox(QStringLiteral("选择字段"), Panel1);
    cbb2 = new QComboBox(fieldGroup);
    auto *fdl = new QHBoxLayout(fieldGroup);
    fdl->addWidget(new QLabel(QStringLiteral("手机号所对应的字段:"), fieldGroup));
    fdl->addWidget(cbb2, 1);
    auto *pl = new QVBoxLayout(Panel1);
    pl->setContentsMargins(0, 0, 0, 0);
    pl->addWidget(tableGroup);
    pl->addWidget(fieldGroup);
    tableGroup->setEnabled(false);
    fieldGroup->setEnabled(false);
    Panel1->setVisible(false);

    pb1 = new QProgressBar(this);
    pb1->setVisible(false);
    helpLink = new QLabel(QStringLiteral("<a href=\"#\">如何批量导入号码 </a>"), this);
    btn2 = new QPushButton(QStringLiteral("确定(&S)"), this);
    btn3 = new QPushButton(QStringLiteral("取消(&C)"), this);
    BitBtn2 = new QPushButton(QStringLiteral("预览(&P)"), this);
    btn2->setEnabled(false);
    BitBtn2->setEnabled(false);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(helpLink);
    buttons->addStretch();
    buttons->addWidget(BitBtn2);
    buttons->addWidget(btn2);
    buttons->addWidget(btn3);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(fileGroup);
    layout->addWidget(Panel1);
    layout->addWidget(pb1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize); // the dialog grows and shrinks with the panel
    fileGroup->setMinimumWidth(380);

    chooseFile = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("打开"), QString(), fileFilter());
    };
    showPreview = [](QDialog &d) { d.exec(); };

    connect(BitBtn1, &QPushButton::clicked, this, &Tfrm_imphm::BitBtn1Click);
    connect(btn1, &QPushButton::clicked, this, &Tfrm_imphm::btn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &Tfrm_imphm::BitBtn2Click);
    connect(btn2, &QPushButton::clicked, this, &Tfrm_imphm::btn2Click);
    connect(btn3, &QPushButton::clicked, this, &Tfrm_imphm::btn3Click);
    connect(CheckBox1, &QCheckBox::toggled, this, [this] {
        if (!edt1->text().isEmpty())
            openFile();
    });
    connect(cbb1, &QComboBox::currentIndexChanged, this, &Tfrm_imphm::tableChosen);
    connect(cbb2, &QComboBox::currentIndexChanged, this, &Tfrm_imphm::updateButtons);
    connect(helpLink, &QLabel::linkActivated, this, [] { ShowFaqPage(QStringLiteral("导入号码")); });
}

Tfrm_imphm::~Tfrm_imphm() = default;

bool Tfrm_imphm::guarded(const std::function<void()> &fn)
{
    try {
        fn();
        return true;
    } catch (const VelaroError &e) {
        m_prompter.information(e.text());
        return false;
    }
}

void Tfrm_imphm::BitBtn1Click()
{
    const bool show = !Panel1->isVisible();
    Panel1->setVisible(show);
    BitBtn1->setText(show ? QStringLiteral("高级(&A) <<") : QStringLiteral("高级(&A) >>"));
}

void Tfrm_imphm::btn1Click()
{
    const QString path = chooseFile ? chooseFile() : QString();
    if (!path.isEmpty())
        edt1->setText(path);
    if (!edt1->text().isEmpty())
        openFile();
}

void Tfrm_imphm::setInputsEnabled(bool on)
{
    for (QWidget *w :
         {static_cast<QWidget *>(btn1), static_cast<QWidget *>(CheckBox1), static_cast<QWidget *>(Panel1)})
        w->setEnabled(on);
}

void Tfrm_imphm::setBusy(bool busy)
{
    setInputsEnabled(!busy);
    if (busy) {
        btn2->setEnabled(false);
        BitBtn2->setEnabled(false);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
        updateButtons();
    }
}

void Tfrm_imphm::openFile()
{
    const QSignalBlocker b1(cbb1), b2(cbb2);
    cbb1->clear();
    cbb2->clear();
    tableGroup->setEnabled(false);
    fieldGroup->setEnabled(false);
    Label1->setText(QStringLiteral("有效号码个数："));
    m_cancel = false;
    if (!guarded([&] { m_import->open(edt1->text().trimmed(), CheckBox1->isChecked()); })) {
        updateButtons();
        return;
    }
    cbb1->addItems(m_import->tables());
    tableGroup->setEnabled(true);
    if (cbb1->count()) {
        cbb1->setCurrentIndex(0);
        tableChosen(0);
    }
    updateButtons();
}

void Tfrm_imphm::tableChosen(int index)
{
    const QSignalBlocker b(cbb2);
    cbb2->clear();
    setBusy(true);
    const bool ok = guarded([&] { m_import->selectTable(index); });
    setBusy(false);
    if (!ok)
        return;
    cbb2->addItems(m_import->fields());
    fieldGroup->setEnabled(true);
    if (cbb2->count())
        cbb2->setCurrentIndex(0);
    else
        m_prompter.information(QStringLiteral("表“%1”中没有数据。").arg(cbb1->itemText(index)));
    updateButtons();
}

void Tfrm_imphm::updateButtons()
{
    const bool field = !m_importing && cbb2->currentIndex() >= 0 && !cbb2->currentText().isEmpty();
    btn2->setEnabled(field);
    BitBtn2->setEnabled(field);
}

void Tfrm_imphm::BitBtn2Click()
{
    const QStringList values = m_import->distinctValues(cbb2->currentIndex());
    Label1->setText(QStringLiteral(" 有效号码个数：%1").arg(values.size()));
    TPreviewDataForm preview(cbb2->currentText(), values, this);
    if (showPreview)
        showPreview(preview);
}

void Tfrm_imphm::btn2Click()
{
    m_cancel = false;
    m_importing = true;
    // Only "取消(&C)" stays live while events run between the rows.
    setInputsEnabled(false);
    updateButtons();
    const int field = cbb2->currentIndex();
    NumberImport::Counts counts;
    bool ok = false;
    {
        struct Finally {
            Tfrm_imphm *d;
            ~Finally()
            {
                d->pb1->setVisible(false);
                d->m_importing = false;
                d->setInputsEnabled(true);
                d->updateButtons();
            }
        } finally{this};
        ok = guarded([&] {
            counts = m_import->run(
                field,
                [this](int done, int total) {
                    if (!pb1->isVisible()) {
                        Label1->setText(QStringLiteral(" 有效号码个数：%1").arg(total));
                        pb1->setRange(0, total);
                        pb1->setVisible(true);
                    }
                    pb1->setValue(done);
                },
                m_cancel);
        });
    }
    if (!ok)
        return;
    m_prompter.information(NumberImport::resultText(counts));
    if (!counts.cancelled) // a cancel has closed the dialog already
        accept();
}

void Tfrm_imphm::btn3Click()
{
    m_cancel = true;
    QDialog::reject();
}

void Tfrm_imphm::reject()
{
    m_cancel = true;
    QDialog::reject();
}

void Tfrm_imphm::closeEvent(QCloseEvent *e)
{
    m_cancel = true;
    QDialog::closeEvent(e);
}
