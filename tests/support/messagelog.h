#pragma once

#include <vector>

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// Collects every log message while it lives, debug output of the engine
// included, so tests can check the system's own texts and how often they
// appear.
class MessageLog
{
public:
    struct Entry
    {
        QtMsgType type;
        QString text;
    };

    MessageLog()
    {
        current() = this;
        previousHandler = qInstallMessageHandler(&MessageLog::handle);
        previousFilter() = QLoggingCategory::installFilter(&MessageLog::filter);
    }
    ~MessageLog()
    {
        QLoggingCategory::installFilter(previousFilter());
        qInstallMessageHandler(previousHandler);
        current() = nullptr;
    }
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    int count(QtMsgType type, const QString &text) const
    {
        int n = 0;
        for (const Entry &e : list)
            n += e.type == type && e.text == text ? 1 : 0;
        return n;
    }
    int count(QtMsgType type) const
    {
        int n = 0;
        for (const Entry &e : list)
            n += e.type == type ? 1 : 0;
        return n;
    }
    int countMatching(QtMsgType type, const QRegularExpression &re) const
    {
        int n = 0;
        for (const Entry &e : list)
            n += e.type == type && re.match(e.text).hasMatch() ? 1 : 0;
        return n;
    }
    QStringList texts(QtMsgType type) const
    {
        QStringList out;
        for (const Entry &e : list) {
            if (e.type == type)
                out << e.text;
        }
        return out;
    }

private:
    static MessageLog *&current()
    {
        static MessageLog *log = nullptr;
        return log;
    }
    static QLoggingCategory::CategoryFilter &previousFilter()
    {
        static QLoggingCategory::CategoryFilter f = nullptr;
        return f;
    }
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        if (current())
            current()->list.push_back({ type, text });
    }
    static void filter(QLoggingCategory *category)
    {
        if (previousFilter())
            previousFilter()(category);
        if (QLatin1String(category->categoryName()).startsWith(QLatin1String("kestrin.")))
            category->setEnabled(QtDebugMsg, true);
    }

    QtMessageHandler previousHandler = nullptr;
    std::vector<Entry> list;
};
