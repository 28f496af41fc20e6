#include "core/live/PieceSequence.h"

#include <QRandomGenerator>

PieceSequence::PieceSequence(std::size_t expectedPieces)
    // Seeded afresh, so that no sender can choose positions that line up with the priorities and
    // make the tree degenerate.
    : m_state(QRandomGenerator::global()->generate64())
{
    m_nodes.reserve(expectedPieces);
}

quint64 PieceSequence::nextPriority()
{
    // splitmix64
    quint64 z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

int PieceSequence::newNode(const Piece &piece, quint64 priority)
{
    m_nodes.push_back({piece, priority});
    const int node = int(m_nodes.size() - 1);
    update(node);
    return node;
}

void PieceSequence::split(int node, qint64 count, int &left, int &right)
{
    if (node < 0) {
        left = right = -1;
        return;
    }
    const std::size_t at = std::size_t(node);
    const qint64 before = sizeOf(m_nodes[at].left);
    const qint64 length = m_nodes[at].piece.to - m_nodes[at].piece.from;
    if (count <= before) {
        int rest = -1;
        split(m_nodes[at].left, count, left, rest);
        m_nodes[at].left = rest;
        right = node;
    } else if (count >= before + length) {
        int rest = -1;
        split(m_nodes[at].right, count - before - length, rest, right);
        m_nodes[at].right = rest;
        left = node;
    } else {
        // The cut falls inside this piece: its tail becomes a node of the same priority that
        // takes over the right subtree, which keeps the heap order.
        Piece tail = m_nodes[at].piece;
        tail.from += count - before;
        m_nodes[at].piece.to = tail.from;
        const int tailNode = newNode(tail, m_nodes[at].priority);
        m_nodes[std::size_t(tailNode)].right = m_nodes[at].right;
        m_nodes[at].right = -1;
        update(tailNode);
        left = node;
        right = tailNode;
    }
    update(node);
}

int PieceSequence::merge(int left, int right)
{
    if (left < 0)
        return right;
    if (right < 0)
        return left;
    if (m_nodes[std::size_t(left)].priority >= m_nodes[std::size_t(right)].priority) {
        const int merged = merge(m_nodes[std::size_t(left)].right, right);
        m_nodes[std::size_t(left)].right = merged;
        update(left);
        return left;
    }
    const int merged = merge(left, m_nodes[std::size_t(right)].left);
    m_nodes[std::size_t(right)].left = merged;
    update(right);
    return right;
}

void PieceSequence::insert(qint64 position, const Piece &piece)
{
    if (piece.to <= piece.from)
        return;
    int left = -1;
    int right = -1;
    split(m_root, position, left, right);
    m_root = merge(merge(left, newNode(piece, nextPriority())), right);
}

void PieceSequence::erase(qint64 position, qint64 count)
{
    int left = -1;
    int rest = -1;
    int removed = -1;
    int right = -1;
    split(m_root, position, left, rest);
    split(rest, count, removed, right);
    m_root = merge(left, right);
}

std::vector<PieceSequence::Piece> PieceSequence::pieces() const
{
    std::vector<Piece> result;
    std::vector<int> path;
    int node = m_root;
    while (node >= 0 || !path.empty()) {
        while (node >= 0) {
            path.push_back(node);
            node = m_nodes[std::size_t(node)].left;
        }
        node = path.back();
        path.pop_back();
        result.push_back(m_nodes[std::size_t(node)].piece);
        node = m_nodes[std::size_t(node)].right;
    }
    return result;
}
