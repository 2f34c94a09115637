#include "sending/ui/RecipientPanel.h"
#include "common/Prompter.h"
#include "common/VelaroError.h"
#include "sending/NumberEntry.h"
#include "sending/SendList.h"
#include "sending/SendListModel.h"
#include "sending/ui/U_imphm.h"
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QVBoxLayout>

NumberEntryEdit::NumberEntryEdit(QWidget *parent) : QLineEdit(parent)
{
    setToolTip(QStringLiteral("输入手机或小灵通(区号+号码)号码,小灵通最后加回车"));
    connect(this, &QLineEdit::textChanged, this, &NumberEntryEdit::onChanged);
}

void NumberEntryEdit::keyPressEvent(QKeyEvent *e)
{
    char16_t key = 0;
    if (e->matches(QKeySequence::Paste))
        key = NumberEntry::Paste;
    else if (e->key() == Qt::Key_Backspace)
        key = NumberEntry::Backspace;
    else if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
        key = NumberEntry::Enter;
    else if (!e->text().isEmpty())
        key = e->text().at(0).unicode();
    if (!key) { // keys that type nothing (arrows, Delete, Home) edit as usual
        QLineEdit::keyPressEvent(e);
        return;
    }
    switch (NumberEntry::ReceiversKeyPress(text(), key)) {
    case NumberEntry::KeyAction::Swallow:
        e->accept();
        return;
    case NumberEntry::KeyAction::Pass:
        QLineEdit::keyPressEvent(e);
        return;
    case NumberEntry::KeyAction::Submit:
        e->accept();
        if (key != NumberEntry::Enter && key != NumberEntry::Paste) {
            m_busy = true;
            insert(QString(QChar(key)));
            m_busy = false;
        }
        submit();
        return;
    }
}

void NumberEntryEdit::submit()
{
    emit submitted(NumberEntry::Candidate(text()));
}

void NumberEntryEdit::onChanged()
{
    if (m_busy)
        return;
    m_busy = true;
    switch (NumberEntry::ReceiversChange(text())) {
    case NumberEntry::ChangeAction::Clear:
        clear();
        break;
    case NumberEntry::ChangeAction::PressEnter:
        if (NumberEntry::ReceiversKeyPress(text(), NumberEntry::Enter) == NumberEntry::KeyAction::Submit)
            submit();
        break;
    case NumberEntry::ChangeAction::None:
        break;
    }
    m_busy = false;
}

NumberListView::NumberListView(QWidget *parent) : QListView(parent)
{
    setUniformItemSizes(true); // a million rows scroll without measuring each
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
}

std::vector<int> NumberListView::selectedRows() const
{
    std::vector<int> rows;
    if (!selectionModel())
        return rows;
    for (const QItemSelectionRange &r : selectionModel()->selection())
        for (int i = r.top(); i <= r.bottom(); ++i)
            rows.push_back(i);
    return rows;
}

void NumberListView::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Delete) {
        emit deletePressed();
        return;
    }
    QListView::keyPressEvent(e);
}

void NumberListView::dragEnterEvent(QDragEnterEvent *e)
{
    if (e->mimeData()->hasFormat(SendList::folderMimeType()))
        e->acceptProposedAction();
    else
        e->ignore();
}

void NumberListView::dragMoveEvent(QDragMoveEvent *e)
{
    if (e->mimeData()->hasFormat(SendList::folderMimeType()))
        e->acceptProposedAction();
    else
        e->ignore();
}

void NumberListView::dropEvent(QDropEvent *e)
{
    if (!e->mimeData()->hasFormat(SendList::folderMimeType())) {
        e->ignore();
        return;
    }
    // Copy, never move: the folder stays where it is in the tree.
    e->setDropAction(Qt::CopyAction);
    e->accept();
    emit folderDropped(QString::fromUtf8(e->mimeData()->data(SendList::folderMimeType())));
}

RecipientPanel::RecipientPanel(SendList &list, Prompter &prompter, QWidget *parent)
    : QWidget(parent), m_list(list), m_prompter(prompter)
{
    entryGroup = new QGroupBox(QStringLiteral("输入号码"), this);
    Receivers = new NumberEntryEdit(entryGroup);
    auto *entryLayout = new QVBoxLayout(entryGroup);
    entryLayout->addWidget(Receivers);

    listGroup = new QGroupBox(QStringLiteral("接收号码列表:"), this);
    LBhm = new NumberListView(listGroup);
    m_model = new SendListModel(list, this);
    LBhm->setModel(m_model);
    LBhm->setToolTip(QStringLiteral("按 Delete 删除选中的号码；可把名片夹拖到这里"));
    Button7 = new QPushButton(QStringLiteral("清空号码"), listGroup);
    auto *listLayout = new QVBoxLayout(listGroup);
    listLayout->addWidget(LBhm, 1);
    listLayout->addWidget(Button7, 0, Qt::AlignRight);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(entryGroup);
    layout->addWidget(listGroup, 1);

    popup = new QMenu(this);
    N10 = popup->addAction(QStringLiteral("导入"));
    N17 = popup->addAction(QStringLiteral("删除"));
    imp1 = popup->addAction(QStringLiteral("超速导入"));
    LBhm->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(LBhm, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &p) { popup->popup(LBhm->viewport()->mapToGlobal(p)); });

    chooseFastImportFile = [this] {
        return QFileDialog::getOpenFileName(
            this, QStringLiteral("打开"), QString(),
            QStringLiteral("电话号码文件 (*.txt *.csv *.xls *.xlsx);;文本文件 (*.txt)"));
    };
    openImportDialog = [this] {
        Tfrm_imphm dlg(m_list, m_prompter, this);
        dlg.exec();
    };

    connect(Receivers, &NumberEntryEdit::submitted, this, [this](const QString &candidate) {
        guarded([&] {
            if (m_list.SubmitTyped(candidate))
                Receivers->clear();
        });
    });
    connect(LBhm, &NumberListView::deletePressed, this, &RecipientPanel::N17Click);
    connect(LBhm, &NumberListView::folderDropped, this,
            [this](const QString &code) { guarded([&] { m_list.DropFolderNumbers(code); }); });
    connect(N10, &QAction::triggered, this, &RecipientPanel::N10Click);
    connect(N17, &QAction::triggered, this, &RecipientPanel::N17Click);
    connect(imp1, &QAction::triggered, this, &RecipientPanel::imp1Click);
    connect(Button7, &QPushButton::clicked, this, &RecipientPanel::Button7Click);
    connect(&list, &SendList::captionChanged, listGroup, &QGroupBox::setTitle);
    // The count follows every change at once instead of waiting for the periodic refresh.
    connect(&list, &SendList::countsChanged, &list, &SendList::RefreshCounts, Qt::UniqueConnection);
    list.RefreshCounts();
}

void RecipientPanel::guarded(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const VelaroError &e) {
        m_prompter.information(e.text());
    }
}

void RecipientPanel::N10Click()
{
    if (openImportDialog)
        openImportDialog();
}

void RecipientPanel::N17Click()
{
    guarded([&] { m_list.DeleteSelected(LBhm->selectedRows()); });
}

void RecipientPanel::imp1Click()
{
    guarded([&] { m_list.FastImport(chooseFastImportFile); });
}

void RecipientPanel::Button7Click()
{
    guarded([&] { m_list.ClearSendList(); });
}
