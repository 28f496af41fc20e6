#include "core/live/PieceSequence.h"

#include <cmath>

PieceSequence::PieceSequence(std::size_t expectedPieces)
    : m_blocks(1)
    , m_blockSize(std::max<std::size_t>(64, std::size_t(std::sqrt(double(expectedPieces)))))
{
}

PieceSequence::Place PieceSequence::cutAt(qint64 position)
{
    std::size_t b = 0;
    while (b + 1 < m_blocks.size() && position >= m_blocks[b].size) {
        position -= m_blocks[b].size;
        ++b;
    }
    std::vector<Piece> &pieces = m_blocks[b].pieces;
    std::size_t p = 0;
    while (p < pieces.size() && position >= pieces[p].length()) {
        position -= pieces[p].length();
        ++p;
    }
    if (p < pieces.size() && position > 0) {
        Piece tail = pieces[p];
        tail.from += position;
        pieces[p].to = tail.from;
        pieces.insert(pieces.begin() + qsizetype(++p), tail);
        if (splitIfFull(b) && p >= m_blockSize)
            return {b + 1, p - m_blockSize};
    }
    return {b, p};
}

bool PieceSequence::splitIfFull(std::size_t block)
{
    std::vector<Piece> &pieces = m_blocks[block].pieces;
    if (pieces.size() < 2 * m_blockSize)
        return false;
    Block upper;
    upper.pieces.assign(pieces.begin() + qsizetype(m_blockSize), pieces.end());
    pieces.resize(m_blockSize);
    for (const Piece &piece : upper.pieces)
        upper.size += piece.length();
    m_blocks[block].size -= upper.size;
    m_blocks.insert(m_blocks.begin() + qsizetype(block) + 1, std::move(upper));
    return true;
}

void PieceSequence::insert(qint64 position, const Piece &piece)
{
    if (piece.length() <= 0)
        return;
    const Place at = cutAt(position);
    Block &block = m_blocks[at.block];
    block.pieces.insert(block.pieces.begin() + qsizetype(at.piece), piece);
    block.size += piece.length();
    m_size += piece.length();
    splitIfFull(at.block);
}

void PieceSequence::erase(qint64 position, qint64 count)
{
    cutAt(position + count);
    Place at = cutAt(position);
    m_size -= count;
    while (count > 0) {
        Block &block = m_blocks[at.block];
        std::size_t end = at.piece;
        qint64 removed = 0;
        while (end < block.pieces.size() && removed < count)
            removed += block.pieces[end++].length();
        block.pieces.erase(block.pieces.begin() + qsizetype(at.piece),
                           block.pieces.begin() + qsizetype(end));
        block.size -= removed;
        count -= removed;
        if (block.pieces.empty() && m_blocks.size() > 1) {
            m_blocks.erase(m_blocks.begin() + qsizetype(at.block));
        } else {
            ++at.block;
        }
        at.piece = 0;
    }
}

std::vector<PieceSequence::Piece> PieceSequence::pieces() const
{
    std::vector<Piece> result;
    for (const Block &block : m_blocks)
        result.insert(result.end(), block.pieces.begin(), block.pieces.end());
    return result;
}
