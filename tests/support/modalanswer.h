#pragma once
// Answers the real dialog that is about to open, as a user would once it is
// on the screen: a timer looks for it among the modal widgets and hands it to
// the answer. The same works whether the dialog runs a loop of its own (the
// timer fires inside it) or opens and returns at once (the timer fires in the
// test's own waiting). Main thread only.

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace modal_test {

// Calls answer with the first modal widget of type W to show within about
// ten seconds (a loaded machine shows it sooner), once; *answered is set
// after the answer ran.
template <class W> void answerWhenShown(std::function<void(W &)> answer, bool *answered = nullptr)
{
    auto *poll = new QTimer(qApp);
    poll->setInterval(10);
    QObject::connect(
        poll, &QTimer::timeout, poll, [poll, answer = std::move(answer), answered, tries = 0]() mutable {
            if (auto *shown = qobject_cast<W *>(QApplication::activeModalWidget());
                shown && shown->isVisible()) {
                poll->stop();
                poll->deleteLater();
                answer(*shown);
                if (answered)
                    *answered = true;
                return;
            }
            if (++tries > 1000) {
                poll->stop();
                poll->deleteLater();
            }
        });
    poll->start();
}

} // namespace modal_test
