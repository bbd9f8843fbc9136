#include "restore/moment.h"

#include "platform/filesystem.h"
#include "platform/names.h"

#include <algorithm>

namespace archivon::restore {

using versions::ListedChange;
using versions::RunList;
using Kind = ListedChange::Kind;

int Tree::add(int parent, QString name, EntryKind kind, qint64 size, qint64 modifiedNs)
{
    m_entries.push_back({std::move(name), size, modifiedNs, parent, kind});
    return int(m_entries.size()) - 1;
}

RelativePath Tree::pathOf(int entry) const
{
    RelativePath path;
    for (; entry >= 0; entry = at(entry).parent)
        path.prepend(at(entry).name);
    return path;
}

size_t detail::qHash(const NameInFolder& key, size_t seed) noexcept
{
    size_t h = seed ^ (size_t(key.parent) * 0x9E3779B97F4A7C15ull);
    const QString& name = key.name;
    for (qsizetype i = 0; i < name.size(); ++i) {
        char32_t c = name.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(name.at(i), name.at(i + 1));
            ++i;
        }
        h = (h ^ (key.folds ? QChar::toCaseFolded(c) : c)) * 0x100000001B3ull;
    }
    return h;
}

namespace {

// What is held at each folder of a tree, built once for the trees laid over.
struct Children
{
    std::vector<int> first; // by entry + 1 (0: the top), into order
    std::vector<int> order;

    explicit Children(const Tree& tree)
    {
        const int n = tree.count();
        first.assign(std::size_t(n) + 2, 0);
        for (int e = 0; e < n; ++e)
            ++first[std::size_t(tree.at(e).parent + 1) + 1];
        for (std::size_t k = 1; k < first.size(); ++k)
            first[k] += first[k - 1];
        order.resize(std::size_t(n));
        std::vector<int> fill(first.begin(), first.end() - 1);
        for (int e = 0; e < n; ++e)
            order[std::size_t(fill[std::size_t(tree.at(e).parent + 1)]++)] = e;
    }
    // The entries held by \a entry (-1: the top).
    std::pair<const int*, const int*> of(int entry) const
    {
        const std::size_t k = std::size_t(entry + 1);
        return {order.data() + first[k], order.data() + first[k + 1]};
    }
};

// The comparison's loosest step: a time the destination kept cut to whole
// seconds, or to two, is still the one written.
constexpr qint64 kTimeSlackNs = 2'000'000'000;

} // namespace

// Undoes runs on a moment, one at a time.
class MomentBuilder
{
public:
    MomentBuilder(Moment& m, const History& h) : m_m(m), m_h(h) {}

    void start(const platform::NameRules& rules)
    {
        m_m.m_rules = rules;
        const Tree* mirror = m_h.mirror;
        std::size_t most = mirror ? std::size_t(mirror->count()) : 0;
        m_m.m_index.reserve(qsizetype(most));
        for (const History::Run& run : m_h.runs)
            most += run.dated ? std::size_t(run.dated->count()) : 0;
        m_m.m_nodes.reserve(most + 1);
        m_m.m_nodes.push_back({});
        m_m.m_nodes[0].alive = mirror != nullptr;
        if (!mirror)
            return;
        std::vector<int> nodeOf(std::size_t(mirror->count()));
        for (int e = 0; e < mirror->count(); ++e) {
            const Tree::Entry& entry = mirror->at(e);
            const int parent = entry.parent < 0 ? 0 : nodeOf[std::size_t(entry.parent)];
            nodeOf[std::size_t(e)] = parent < 0 ? -1 : attach(parent, entry.name, {-1, e}, entry.kind);
        }
    }

    void undo(int run)
    {
        m_m.m_undone.push_back(run);
        const RunList& list = *m_h.runs[std::size_t(run)].list;
        const versions::ListedPair* pair = list.header.pairFor(m_h.destination);
        if (!pair)
            return; // a plan without this pair: the run left it alone
        const Tree* dated = m_h.runs[std::size_t(run)].dated;
        std::vector<const ListedChange*> changes;
        for (const versions::RunBlock& block : list.blocks) {
            if (block.pair != pair->number)
                continue;
            for (const ListedChange& c : block.changes)
                changes.push_back(&c);
        }
        const auto rewrite = std::find_if(changes.begin(), changes.end(),
                                          [](const ListedChange* c) { return c->kind == Kind::Rewritten; });
        if (rewrite != changes.end())
            return undoRewrite(run, dated, (*rewrite)->size != 0);

        const auto each = [&](Kind kind, const auto& act) {
            for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
                if ((*it)->kind == kind)
                    act(**it);
            }
        };
        // Backwards through what the run did: its additions and what it moved
        // into its dated folder, then its renames, then what it sorted out of
        // an earlier run's leftovers, which it did first.
        each(Kind::Added, [&](const ListedChange& c) { takeOut(c); });
        std::vector<char> claimed;
        std::vector<std::pair<int, const RelativePath*>> movedIn;
        if (dated) {
            each(Kind::MovedIn, [&](const ListedChange& c) {
                if (const int e = entryIn(*dated, c.other); e >= 0) {
                    claimed.resize(std::size_t(dated->count()));
                    claimed[std::size_t(e)] = 1;
                    movedIn.emplace_back(e, &c.path);
                }
            });
            const Children children(*dated);
            if (!m_m.m_nodes[0].alive)
                revive(run);
            layOver(0, *dated, children, -1, run, claimed);
            each(Kind::SetAside, [&](const ListedChange& c) { move(c.other, c.path); });
            each(Kind::CaseFixed, [&](const ListedChange& c) { move(c.other, c.path); });
            for (const auto& [e, from] : movedIn)
                graftAt(*from, *dated, children, e, run);
        } else {
            each(Kind::SetAside, [&](const ListedChange& c) { move(c.other, c.path); });
            each(Kind::CaseFixed, [&](const ListedChange& c) { move(c.other, c.path); });
        }
        each(Kind::PutBack, [&](const ListedChange& c) { move(c.path, c.other); });
    }

    // What the program's own hidden names hold (a partial copy, an entry set
    // aside that nothing put back) was never part of the backup.
    void dropLeftovers()
    {
        for (int n = 1; n < int(m_m.m_nodes.size()); ++n) {
            const Moment::Node& node = m_m.m_nodes[std::size_t(n)];
            if (node.alive && (platform::isCopyTemporary(node.name, m_m.m_rules) ||
                               platform::setAsideFrom(node.name, m_m.m_rules)))
                kill(n);
        }
    }

private:
    const Tree& treeOf(const Place& p) const
    {
        return p.run < 0 ? *m_h.mirror : *m_h.runs[std::size_t(p.run)].dated;
    }

    int child(int parent, const QString& name) const { return m_m.m_index.value(m_m.keyOf(parent, name), -1); }

    int lookup(const RelativePath& path, qsizetype depth) const
    {
        int n = m_m.m_nodes[0].alive ? 0 : -1;
        for (qsizetype k = 0; k < depth && n >= 0; ++k)
            n = child(n, path.at(k));
        return n;
    }

    void kill(int top)
    {
        std::vector<int> stack{top};
        while (!stack.empty()) {
            const int n = stack.back();
            stack.pop_back();
            Moment::Node& node = m_m.m_nodes[std::size_t(n)];
            if (!node.alive)
                continue;
            node.alive = false;
            if (node.parent >= 0) {
                const auto it = m_m.m_index.constFind(m_m.keyOf(node.parent, node.name));
                if (it != m_m.m_index.cend() && *it == n)
                    m_m.m_index.erase(it);
            }
            for (int c = node.first; c >= 0; c = m_m.m_nodes[std::size_t(c)].next)
                stack.push_back(c);
        }
    }

    int attach(int parent, const QString& name, Place place, EntryKind kind)
    {
        if (const int there = child(parent, name); there >= 0)
            kill(there);
        const int n = int(m_m.m_nodes.size());
        Moment::Node& folder = m_m.m_nodes[std::size_t(parent)];
        m_m.m_nodes.push_back({name, place, parent, -1, folder.first, kind, true});
        m_m.m_nodes[std::size_t(parent)].first = n;
        m_m.m_index.insert(m_m.keyOf(parent, name), n);
        return n;
    }

    // The entry \a e of \a tree, and all it holds, in place of what \a parent holds under its name.
    // \a as: the name it takes there, when not its own.
    int graft(int parent, const Tree& tree, const Children& children, int e, int run,
              const std::vector<char>& skip = {}, const QString& as = {})
    {
        const Tree::Entry& entry = tree.at(e);
        const int top = attach(parent, as.isEmpty() ? entry.name : as, {run, e}, entry.kind);
        std::vector<std::pair<int, int>> stack{{e, top}};
        while (!stack.empty()) {
            const auto [from, to] = stack.back();
            stack.pop_back();
            for (auto [it, end] = children.of(from); it != end; ++it) {
                if (!skip.empty() && skip[std::size_t(*it)])
                    continue;
                const Tree::Entry& c = tree.at(*it);
                stack.emplace_back(*it, attach(to, c.name, {run, *it}, c.kind));
            }
        }
        return top;
    }

    // A dated folder over the moment: a folder there and here is one folder,
    // anything else there takes the place of what is here.
    void layOver(int node, const Tree& tree, const Children& children, int from, int run,
                 const std::vector<char>& skip)
    {
        for (auto [it, end] = children.of(from); it != end; ++it) {
            if (!skip.empty() && skip[std::size_t(*it)])
                continue;
            const Tree::Entry& entry = tree.at(*it);
            const int here = child(node, entry.name);
            if (entry.kind == EntryKind::Folder && here >= 0 &&
                m_m.m_nodes[std::size_t(here)].kind == EntryKind::Folder)
                layOver(here, tree, children, *it, run, skip);
            else
                graft(node, tree, children, *it, run, skip);
        }
    }

    void graftAt(const RelativePath& path, const Tree& tree, const Children& children, int e, int run)
    {
        if (path.isEmpty())
            return;
        if (const int parent = lookup(path, path.size() - 1); parent >= 0)
            graft(parent, tree, children, e, run, {}, path.last());
    }

    // An entry the run added goes, if it is still the one it added.
    void takeOut(const ListedChange& c)
    {
        const int n = lookup(c.path, c.path.size());
        if (n < 0)
            return;
        const Moment::Node& node = m_m.m_nodes[std::size_t(n)];
        if (node.kind != c.entry)
            return;
        if (c.entry != EntryKind::Folder && node.place.entry >= 0) {
            const Tree::Entry& e = treeOf(node.place).at(node.place.entry);
            if (e.size != c.size || std::abs(e.modifiedNs - c.modifiedNs) >= kTimeSlackNs)
                return;
        }
        kill(n);
    }

    void move(const RelativePath& from, const RelativePath& to)
    {
        if (from.isEmpty() || to.isEmpty())
            return;
        const int n = lookup(from, from.size());
        const int parent = lookup(to, to.size() - 1);
        if (n < 0 || parent < 0)
            return;
        m_m.m_index.remove(m_m.keyOf(m_m.m_nodes[std::size_t(n)].parent, m_m.m_nodes[std::size_t(n)].name));
        if (const int there = child(parent, to.last()); there >= 0 && there != n)
            kill(there);
        if (m_m.m_nodes[std::size_t(n)].parent != parent) {
            unlink(n);
            m_m.m_nodes[std::size_t(n)].next = std::exchange(m_m.m_nodes[std::size_t(parent)].first, n);
        }
        Moment::Node& node = m_m.m_nodes[std::size_t(n)];
        node.parent = parent;
        node.name = to.last();
        m_m.m_index.insert(m_m.keyOf(parent, node.name), n);
    }

    // Takes \a n out of its folder's chain; done only for a move, which is rare.
    void unlink(int n)
    {
        int* link = &m_m.m_nodes[std::size_t(m_m.m_nodes[std::size_t(n)].parent)].first;
        while (*link >= 0 && *link != n)
            link = &m_m.m_nodes[std::size_t(*link)].next;
        if (*link == n)
            *link = m_m.m_nodes[std::size_t(n)].next;
    }

    void undoRewrite(int run, const Tree* dated, bool hadBackup)
    {
        if (!dated) {
            // Nothing was moved aside: either there was no backup before, or
            // the swap never came and the mirror is still the old one.
            if (!hadBackup)
                kill0();
            return;
        }
        kill0();
        revive(run);
        const Children children(*dated);
        for (auto [it, end] = children.of(-1); it != end; ++it)
            graft(0, *dated, children, *it, run);
    }

    // The pair's folder, there again, as the dated folder of \a run has it.
    void revive(int run)
    {
        Moment::Node& root = m_m.m_nodes[0];
        root = Moment::Node();
        root.place = {run, -1};
    }

    void kill0()
    {
        kill(0);
        m_m.m_nodes[0].first = -1;
    }

    int entryIn(const Tree& tree, const RelativePath& path) const
    {
        int at = -1;
        for (const QString& name : path) {
            int found = -1;
            for (int e = at + 1; e < tree.count() && found < 0; ++e) {
                if (tree.at(e).parent == at && m_m.keyOf(at, tree.at(e).name) == m_m.keyOf(at, name))
                    found = e;
            }
            if (found < 0)
                return -1;
            at = found;
        }
        return at;
    }

    Moment& m_m;
    const History& m_h;
};

std::optional<Place> Moment::find(const RelativePath& path) const
{
    if (!present())
        return std::nullopt;
    int n = 0;
    for (const QString& name : path) {
        n = m_index.value(keyOf(n, name), -1);
        if (n < 0)
            return std::nullopt;
    }
    return m_nodes[std::size_t(n)].place;
}

void Moment::forEach(const std::function<void(const RelativePath&, EntryKind, const Place&)>& visit) const
{
    if (!present())
        return;
    RelativePath path;
    // Each step: a node, and whether its path is to be left (after what it holds).
    std::vector<std::pair<int, bool>> stack;
    // The chain runs from the last entry put in a folder: on the stack, the
    // first comes out first.
    const auto push = [&](int n) {
        for (int c = m_nodes[std::size_t(n)].first; c >= 0; c = m_nodes[std::size_t(c)].next) {
            if (m_nodes[std::size_t(c)].alive)
                stack.emplace_back(c, false);
        }
    };
    push(0);
    while (!stack.empty()) {
        const auto [n, leaving] = stack.back();
        stack.pop_back();
        if (leaving) {
            path.removeLast();
            continue;
        }
        const Node& node = m_nodes[std::size_t(n)];
        path << node.name;
        visit(path, node.kind, node.place);
        stack.emplace_back(n, true);
        push(n);
    }
}

namespace {

// The first run to undo for a moment at \a when: the one after the last run
// that had ended by then.
std::size_t firstAfter(const History& h, const std::vector<int>& order, const QDateTime& when)
{
    for (std::size_t k = order.size(); k-- > 0;) {
        const auto& summary = h.runs[std::size_t(order[k])].list->summary;
        if (summary && summary->end <= when)
            return k + 1;
    }
    return 0;
}

platform::NameRules rulesFor(const History& h, const std::vector<int>& order)
{
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        if (const auto* pair = h.runs[std::size_t(*it)].list->header.pairFor(h.destination))
            return pair->rules;
    }
    return {};
}

} // namespace

versions::RunHistory History::lists() const
{
    versions::RunHistory lists;
    for (const Run& run : runs)
        lists.lists.push_back(run.list);
    lists.refused = refused;
    lists.unlisted = unlisted;
    return lists;
}

Reach reachOf(const History& h)
{
    return versions::reachOf(h.lists());
}

Result<Moment> momentAt(const History& h, const std::optional<QDateTime>& when)
{
    const versions::RunHistory lists = h.lists();
    const std::vector<int> order = versions::runOrder(lists.lists);
    const std::size_t first = when ? firstAfter(h, order, *when) : order.size();
    if (when) {
        if (const auto barrier = versions::barrierFor(lists, order, first))
            return Result<Moment>::failure(
                QStringLiteral("il backup al %1 non si può ricostruire: %2").arg(shownMoment(*when), barrier->why));
        // Before the first run the lists know, nothing tells what was there.
        if (first == 0 && !order.empty()) {
            const QDateTime start = h.runs[std::size_t(order[0])].list->header.start;
            if (*when < start)
                return Result<Moment>::failure(
                    QStringLiteral("il backup al %1 non si può ricostruire: è precedente alla prima esecuzione "
                                   "che ha lasciato un elenco, iniziata il %2")
                        .arg(shownMoment(*when), shownMoment(start)));
        }
    }
    Moment moment;
    MomentBuilder builder(moment, h);
    builder.start(rulesFor(h, order));
    for (std::size_t k = order.size(); k-- > first;) {
        builder.undo(order[k]);
    }
    builder.dropLeftovers();
    return moment;
}

} // namespace archivon::restore
