#pragma once

#include <QtGlobal>

#include <vector>

// A sequence of Characters held as pieces, each a run [from, to) of the Characters of a numbered
// source text, so a long list of scattered edits never moves the Characters themselves. The
// pieces lie in blocks of about the square root of their expected number, with each block's
// Character count at hand: finding a position scans the block counts, then one block, and an
// insert or removal moves the pieces of one block only.
class PieceSequence
{
public:
    struct Piece
    {
        qsizetype source;
        qint64 from;
        qint64 to;

        qint64 length() const { return to - from; }
    };

    // Sized for about this many pieces (an insert adds at most two, a removal at most one).
    explicit PieceSequence(std::size_t expectedPieces = 0);

    qint64 size() const { return m_size; }
    // At `position` in 0 … size(); a piece of no Characters is not added.
    void insert(qint64 position, const Piece &piece);
    // [position, position + count) must lie within the sequence.
    void erase(qint64 position, qint64 count);
    // The pieces in order.
    std::vector<Piece> pieces() const;

private:
    struct Block
    {
        std::vector<Piece> pieces;
        qint64 size = 0; // Characters
    };
    struct Place
    {
        std::size_t block;
        std::size_t piece; // the first piece at or after the position
    };

    // Makes `position` a boundary between pieces and says where the pieces after it start.
    Place cutAt(qint64 position);
    // Halves a block that has grown to twice the block size; true when it did.
    bool splitIfFull(std::size_t block);

    std::vector<Block> m_blocks;
    std::size_t m_blockSize;
    qint64 m_size = 0;
};
