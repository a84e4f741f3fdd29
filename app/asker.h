// The message boxes a launch may raise, behind a small interface so that tests answer them
// instead of a user (no test may wait on a dialog).
#pragma once

#include <QString>

class QWidget;

namespace corvane::app {

class Asker
{
public:
    virtual ~Asker() = default;
    // An information box without parent window.
    virtual void inform(const QString& title, const QString& text) = 0;
    // A Yes/No question without parent window; true for Yes.
    virtual bool confirm(const QString& title, const QString& text) = 0;
    // A Yes/No question over `parent`, with no default button; true for Yes.
    virtual bool ask(QWidget* parent, const QString& title, const QString& text)
    {
        (void)parent;
        return confirm(title, text);
    }
};

class MessageBoxAsker : public Asker
{
public:
    void inform(const QString& title, const QString& text) override;
    bool confirm(const QString& title, const QString& text) override;
    bool ask(QWidget* parent, const QString& title, const QString& text) override;
};

// Ends the office processes an earlier Corvane left running before a job that must not share
// workbooks with them, after the user agreed in a "注意" box naming how many run. Nothing is
// asked when there are none; the user's own office is never touched.
// False when the user said No: the launch stops.
bool confirmedServerSweep(Asker& asker);

} // namespace corvane::app
