#pragma once
// Answers the program's dialogs from a script and records what was asked, so tests
// can check texts, styles and titles exactly. Installed for the lifetime of the object.

#include "platform/services/Dialogs.h"

#include <QStringList>
#include <deque>
#include <optional>

namespace testing {

struct AskedDialog {
    enum Kind { Message, Input, Save } kind;
    QString text; // message text, input prompt, or save title
    int style = 0;
    QString title; // message/input title, or save filter
};

class ScriptedDialogs : public platform::Dialogs {
public:
    ScriptedDialogs() { platform::setDialogs(this); }
    ~ScriptedDialogs() override { platform::setDialogs(nullptr); }

    // Answers used in order; a dialog with no scripted answer gets OK / cancel / "".
    std::deque<int> messageAnswers;
    std::deque<std::optional<QString>> inputAnswers;
    std::deque<QString> saveAnswers;
    std::vector<AskedDialog> asked;

    int messageBox(const QString &text, int style, const QString &title) override
    {
        asked.push_back({AskedDialog::Message, text, style, title});
        if (messageAnswers.empty())
            return (style & 0x7) == platform::vbYesNo ? platform::vbYes : platform::vbOK;
        const int a = messageAnswers.front();
        messageAnswers.pop_front();
        return a;
    }
    std::optional<QString> inputBox(const QString &prompt, const QString &title) override
    {
        asked.push_back({AskedDialog::Input, prompt, 0, title});
        std::optional<QString> a;
        if (!inputAnswers.empty()) {
            a.swap(inputAnswers.front());
            inputAnswers.pop_front();
        }
        return a;
    }
    QString saveFileName(const QString &title, const QString &filter) override
    {
        asked.push_back({AskedDialog::Save, title, 0, filter});
        if (saveAnswers.empty())
            return {};
        QString a = saveAnswers.front();
        saveAnswers.pop_front();
        return a;
    }

    QStringList messages() const
    {
        QStringList texts;
        for (const auto &d : asked)
            if (d.kind == AskedDialog::Message)
                texts << d.text;
        return texts;
    }
};

} // namespace testing
