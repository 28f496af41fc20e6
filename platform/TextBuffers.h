#pragma once

#include <QMutex>
#include <QString>

#include <memory>
#include <vector>

// Edits a long text that other holders share (snapshots handed to worker threads, the model's
// own copy) without copying it into freshly mapped memory on every edit.
//
// A shared QString must be copied before it can change. On a virtual machine, faulting in the
// pages of a fresh 10 MB buffer costs twenty milliseconds where copying into memory already
// mapped costs one; so the copy goes into the buffer of an earlier version once every other
// holder has let go of it. That buffer still holds its version, which shares most of the text
// with the new one: only the part between the ends they share is written (and the end moved when
// the lengths differ). Texts below `pooledSize` are edited as usual.
class TextBuffers
{
public:
    static constexpr qsizetype pooledSize = 256 * 1024;

    // text.replace(position, removed, inserted), with the copy (if one is needed) made into a
    // kept buffer.
    void replace(QString &text, qsizetype position, qsizetype removed, QStringView inserted);
    // For a long text of `size` code units, keeps the buffers that fit it and has the others
    // for its first edits made on another thread, their memory mapped there; lets go of all for
    // a short text.
    void prepare(qsizetype size);

private:
    friend struct TextBuffersTestAccess;

    // While typing fast in a long text up to six versions are held at once: the saved text, the
    // parse in flight and the last one, the preview's text and its render, the word count and
    // the outline.
    static constexpr size_t maxSpares = 8;
    static constexpr size_t preparedSpares = 6;
    static qsizetype capacityFor(qsizetype size) { return size + size / 16; }

    // How many units two texts are known to share at their start and at their end.
    struct Ends
    {
        qsizetype prefix = 0;
        qsizetype suffix = 0;
    };
    struct Spare
    {
        QString buffer; // an earlier version, or empty
        Ends shared; // with m_last
    };
    struct Incoming
    {
        QMutex mutex;
        std::vector<QString> buffers;
    };
    void takeIncoming();

    std::vector<Spare> m_spares; // least recently used first
    std::shared_ptr<Incoming> m_incoming; // where the prepared buffers arrive
    // The long text made last (its buffer, held so that no other text can take its place): a
    // text handed in that is not this one is one the spares share nothing known with.
    QString m_last;
};
