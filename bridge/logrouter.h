#pragma once

#include <QObject>
#include <QString>

namespace corvane {

// Carries log lines from whichever thread wrote them to the thread the router lives in.
class LogRouter : public QObject
{
    Q_OBJECT

public:
    // Null once the router has gone at process exit, when late messages have nowhere to go.
    static LogRouter *instance();

    // Safe from any thread; the line reaches logEmitted later, on the router's thread.
    void post(int type, const QString &message);

    Q_INVOKABLE void deliver(int type, const QString &message);

signals:
    void logEmitted(int type, const QString &message);

private:
    LogRouter() = default;
    ~LogRouter() override;
};

} // namespace corvane
