#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

// A list kept in immutable chunks of a few hundred items, each chunk with a shift for all its
// items (a move by lines, by offsets). Lists made one from another share every chunk the change
// between them did not touch: replacing items, moving the ones after them, copying or releasing
// a list costs about the number of chunks plus the items replaced, not the number of items.
// Chunks are never changed once made, so a list may be read from any thread.
//
// `Traits` says what is kept:
//   Item, Shift (value-initialised: no move; comparable), Chunk;
//   static Item shifted(const Item &, const Shift &);
//   static Shift add(const Shift &, const Shift &);
//   static std::shared_ptr<const Chunk> chunkOf(std::vector<Item>);
//   static const std::vector<Item> &items(const Chunk &).
template<typename Traits> class SharedChunks
{
public:
    using Item = typename Traits::Item;
    using Shift = typename Traits::Shift;
    using Chunk = typename Traits::Chunk;

    struct Part
    {
        std::shared_ptr<const Chunk> chunk; // items as if the shift were none
        Shift shift {};
        size_t first = 0; // index of the chunk's first item in the list

        const std::vector<Item> &items() const { return Traits::items(*chunk); }
    };
    using Parts = std::vector<Part>;

    // The most items a chunk holds; a rebuilt chunk holds at least half as many, but for a list
    // that short.
    static constexpr size_t chunkSize = 256;

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const Parts &parts() const
    {
        static const Parts none;
        return m_parts ? *m_parts : none;
    }
    // The part holding item `index` (< size()).
    size_t partOf(size_t index) const
    {
        const Parts &all = parts();
        const auto after
            = std::upper_bound(all.begin(), all.end(), index,
                               [](size_t i, const Part &part) { return i < part.first; });
        return size_t(after - all.begin()) - 1;
    }
    Item operator[](size_t index) const // a search among the chunks
    {
        const Part &part = parts()[partOf(index)];
        return Traits::shifted(part.items()[index - part.first], part.shift);
    }

    template<typename F> void forEach(F &&f) const
    {
        for (const Part &part : parts()) {
            for (const Item &item : part.items()) {
                if (part.shift == Shift {}) {
                    f(item);
                    continue;
                }
                const Item moved = Traits::shifted(item, part.shift);
                f(moved);
            }
        }
    }

    // The index of the first item `before(item, shift)` is false of, given that it is true of a
    // prefix of the items; the item is passed as kept, with its chunk's shift beside it.
    template<typename P> size_t partitionPoint(P before) const
    {
        const Parts &all = parts();
        // The first chunk whose last item is not before holds it.
        const auto part = std::partition_point(all.begin(), all.end(), [&](const Part &p) {
            return before(p.items().back(), p.shift);
        });
        if (part == all.end())
            return m_size;
        const std::vector<Item> &items = part->items();
        const auto item = std::partition_point(
            items.begin(), items.end(), [&](const Item &i) { return before(i, part->shift); });
        return part->first + size_t(item - items.begin());
    }

    // This list with the items [from, to) replaced by `items`, and every item after them moved by
    // `shift`.
    SharedChunks replaced(size_t from, size_t to, std::vector<Item> items, const Shift &shift) const
    {
        const Parts &parts = this->parts();
        // The chunks holding [from, to), or the last one when items are added at the end, are
        // made again with their items where they are now; every other chunk is shared.
        size_t begin = 0;
        size_t end = 0;
        if (!parts.empty()) {
            begin = partOf(std::min(from, m_size - 1));
            end = (to > from ? partOf(to - 1) : begin) + 1;
        }
        std::vector<Item> middle;
        auto take = [&middle](const Part &part, size_t first, size_t last, const Shift &extra) {
            const Shift moved = Traits::add(part.shift, extra);
            for (size_t i = first; i < last; ++i)
                middle.push_back(Traits::shifted(part.items()[i], moved));
        };
        if (begin < end) {
            middle.reserve(items.size() + 2 * chunkSize);
            const Part &firstPart = parts[begin];
            const Part &lastPart = parts[end - 1];
            take(firstPart, 0, from - firstPart.first, Shift {});
            std::move(items.begin(), items.end(), std::back_inserter(middle));
            take(lastPart, to - lastPart.first, lastPart.items().size(), shift);
        } else {
            middle = std::move(items);
        }
        // Chunks stay between half full and full: a short rest takes its neighbours in.
        if (middle.size() < chunkSize / 2 && end < parts.size()) {
            take(parts[end], 0, parts[end].items().size(), shift);
            ++end;
        }
        if (middle.size() < chunkSize / 2 && begin > 0) {
            std::vector<Item> rest = std::move(middle);
            middle.clear();
            --begin;
            take(parts[begin], 0, parts[begin].items().size(), Shift {});
            std::move(rest.begin(), rest.end(), std::back_inserter(middle));
        }

        auto out = std::make_shared<Parts>();
        out->reserve(parts.size() + middle.size() / chunkSize + 1);
        size_t first = 0;
        for (size_t p = 0; p < begin; ++p) {
            out->push_back(parts[p]);
            first += parts[p].items().size();
        }
        const size_t pieces = (middle.size() + chunkSize - 1) / chunkSize;
        for (size_t k = 0; k < pieces; ++k) {
            const auto a = std::ptrdiff_t(middle.size() * k / pieces);
            const auto b = std::ptrdiff_t(middle.size() * (k + 1) / pieces);
            out->push_back(
                {Traits::chunkOf(std::vector<Item>(std::make_move_iterator(middle.begin() + a),
                                                   std::make_move_iterator(middle.begin() + b))),
                 Shift {}, first});
            first += size_t(b - a);
        }
        for (size_t p = end; p < parts.size(); ++p) {
            out->push_back({parts[p].chunk, Traits::add(parts[p].shift, shift), first});
            first += parts[p].items().size();
        }
        SharedChunks list;
        list.m_parts = std::move(out);
        list.m_size = first;
        return list;
    }

private:
    std::shared_ptr<const Parts> m_parts;
    size_t m_size = 0;
};
