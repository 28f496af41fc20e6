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
// holder has let go of it. Texts below `pooledSize` are edited as usual.
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

    struct Incoming
    {
        QMutex mutex;
        std::vector<QString> buffers;
    };
    void takeIncoming();

    std::vector<QString> m_spares; // buffers of earlier versions, least recently used first
    std::shared_ptr<Incoming> m_incoming; // where the prepared buffers arrive
};
