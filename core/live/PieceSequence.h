#pragma once

#include <QtGlobal>

#include <vector>

// A sequence of Characters held as pieces, each a run [from, to) of the Characters of a numbered
// source text, in a tree kept balanced by random priorities (a treap). Inserting or removing at
// any position costs a logarithm of the number of pieces, whatever the sequence's length, so a
// long list of scattered edits never touches the Characters themselves.
class PieceSequence
{
public:
    struct Piece
    {
        qsizetype source;
        qint64 from;
        qint64 to;
    };

    // Room for this many pieces without reallocating (each insert adds at most two, each erase
    // at most two).
    explicit PieceSequence(std::size_t expectedPieces = 0);

    qint64 size() const { return sizeOf(m_root); }
    // At `position` in 0 … size(); a piece of no Characters is not added.
    void insert(qint64 position, const Piece &piece);
    // [position, position + count) must lie within the sequence.
    void erase(qint64 position, qint64 count);
    // The pieces in order.
    std::vector<Piece> pieces() const;

private:
    struct Node
    {
        Piece piece;
        quint64 priority;
        int left = -1;
        int right = -1;
        qint64 size = 0; // Characters of the subtree
    };

    qint64 sizeOf(int node) const { return node < 0 ? 0 : m_nodes[std::size_t(node)].size; }
    int newNode(const Piece &piece, quint64 priority);
    void update(int node)
    {
        Node &n = m_nodes[std::size_t(node)];
        n.size = sizeOf(n.left) + (n.piece.to - n.piece.from) + sizeOf(n.right);
    }
    // Splits off the first `count` Characters into `left`, the rest into `right`.
    void split(int node, qint64 count, int &left, int &right);
    int merge(int left, int right);
    quint64 nextPriority();

    std::vector<Node> m_nodes;
    int m_root = -1;
    quint64 m_state;
};
