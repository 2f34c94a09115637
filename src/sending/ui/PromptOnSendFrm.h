#pragma once
#include "sending/ContentRules.h"
#include <QDialog>

class QLabel;
class QPushButton;
class TDataM;

// The send confirmation with the totals of this send.
class TPromptOnSendForm : public QDialog {
    Q_OBJECT
public:
    explicit TPromptOnSendForm(const SendTotals &totals, QWidget *parent = nullptr);

    // Computes the totals (hourglass cursor) and asks; true only for "确定(&S)". The numbers of
    // each class come from the recipient list's counts. Raises VelaroError when the text cannot be split.
    static bool Execute(TDataM &dm, const QString &filteredText, const MessageType &type,
                        qint64 mobileNumbers, qint64 otherNumbers, QWidget *parent = nullptr);

    QLabel *wordsLabel = nullptr;
    QLabel *mobileNumbersLabel = nullptr;
    QLabel *otherNumbersLabel = nullptr;
    QLabel *messagesLabel = nullptr;
    QLabel *balanceLabel = nullptr;
    QLabel *chargeLabel = nullptr;
    QPushButton *okButton = nullptr;
    QPushButton *cancelButton = nullptr;
};
