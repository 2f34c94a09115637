#pragma once
#include <QApplication>
#include <functional>

class Prompter;

// The application object: every error that no handler catches ends in the "提示" information box
// instead of ending the program.
class VelaroApplication : public QApplication {
    Q_OBJECT
public:
    VelaroApplication(int &argc, char **argv);
    void setPrompter(Prompter *prompter) { m_prompter = prompter; }
    bool notify(QObject *receiver, QEvent *event) override;

    // Runs deliver(); an escaping error's text goes to prompter's information box. False then.
    static bool guarded(Prompter &prompter, const std::function<bool()> &deliver);

private:
    Prompter *m_prompter = nullptr;
};
