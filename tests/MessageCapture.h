#pragma once

#include <QList>
#include <QLoggingCategory>
#include <mutex>
#include <QString>
#include <QStringList>

// Collects every message that passes the logging filters while it lives.
// Messages that the filter rules suppress never reach it, which is what the
// tests of the rules rely on.
class MessageCapture
{
public:
    struct Message {
        QtMsgType type;
        QString category;
        QString text;
    };

    MessageCapture() { s_current = this; m_previous = qInstallMessageHandler(&MessageCapture::handler); }
    ~MessageCapture() { qInstallMessageHandler(m_previous); s_current = nullptr; }

    // Messages may come from worker threads: read them once those are done.
    const QList<Message> &messages() const { return m_messages; }
    void clear() { m_messages.clear(); }

    QStringList texts(const QString &category = QString()) const
    {
        QStringList result;
        for (const Message &m : m_messages) {
            if (category.isEmpty() || m.category == category)
                result << m.text;
        }
        return result;
    }

    bool contains(QtMsgType type, const QString &fragment) const
    {
        for (const Message &m : m_messages) {
            if (m.type == type && m.text.contains(fragment))
                return true;
        }
        return false;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        static std::mutex mutex;
        const std::lock_guard<std::mutex> lock(mutex);
        if (s_current)
            s_current->m_messages.append({type, QString::fromLatin1(context.category), text});
    }

    static inline MessageCapture *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    QList<Message> m_messages;
};
