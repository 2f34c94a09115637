#pragma once
#include "common/Prompter.h"
#include <QPointer>
#include <QTimer>
#include <QWidget>

class QLabel;

// The notification pop-up: stacks upwards from the bottom-right corner of the screen,
// closes by itself after 30 seconds or at once on a right click.
class NotificationPopup : public QWidget {
    Q_OBJECT
public:
    static constexpr int lifeMs = 30000;

    NotificationPopup(const QString &title, const QString &text);
    ~NotificationPopup() override;

    QString title() const;
    QString text() const;
    bool closingByItself() const { return m_life.isActive(); }
    // The pop-ups now open, oldest first.
    static QList<NotificationPopup *> openPopups();
    static NotificationPopup *popup(const QString &title, const QString &text);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    static void restack();
    QLabel *m_title;
    QLabel *m_text;
    QTimer m_life;
};

// Real dialogs: message boxes, input dialogs and the notification pop-up.
class QtPrompter : public Prompter {
public:
    void information(const QString &text, const QString &title = defaultTitle()) override;
    Answer question(const QString &text, Buttons buttons = Buttons::YesNo,
                    const QString &title = defaultTitle()) override;
    std::optional<QString> input(const QString &title, const QString &prompt,
                                 const QString &initial = QString(), bool password = false) override;
    void notify(const QString &title, const QString &text) override;
};
