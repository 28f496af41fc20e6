#pragma once

#include <QByteArray>
#include <QIODevice>

// The body of an AI request, handed to the network layer as a device that goes out once.
//
// When a connection closes before any answer, Qt sends a request again on a new connection,
// rewinding its body first. For a generation that may already be running (and billed) at the
// provider that is a second request, so this body refuses to be rewound once it was read, until
// an answer head has arrived: a redirect still sends it again, a silent close ends the request
// with an error instead.
class AIRequestBody : public QIODevice
{
    Q_OBJECT

public:
    explicit AIRequestBody(QByteArray data, QObject *parent = nullptr);

    // An answer head arrived: going back to the start is a new request the server asked for.
    void allowRewind() { m_rewindAllowed = true; }

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_data.size(); }
    bool seek(qint64 pos) override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    QByteArray m_data;
    bool m_rewindAllowed = false;
};
