#pragma once

#include <QObject>

/*!
    Tells whether the machine has network connectivity, on request and as it
    changes. Any connectivity counts as online, a local network without
    internet access included.

    Each platform provides one implementation file with create(); the build
    picks the file of the platform.
*/
class NetworkNotifier : public QObject
{
    Q_OBJECT

public:
    // A notifier of the running platform.
    static NetworkNotifier *create(QObject *parent = nullptr);

    // Asks the system afresh on every call.
    virtual bool isOnline() const = 0;

signals:
    // Emitted for every connectivity change the system reports, repeats included.
    void onlineStateChanged(bool online);

protected:
    explicit NetworkNotifier(QObject *parent = nullptr)
        : QObject(parent)
    {
    }
};
