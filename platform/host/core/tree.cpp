// tree.cpp: the signal-tree library: scopes and leaves of an open file, buses grouped from
// bit-indexed leaves, and the paths, child lists and searches answered into Tcl dynamic strings.
//
// Ownership: the tree owns every node it created, inserted or not, and frees them all when it is
// destroyed. No exception leaves a method: an allocation failure gives a null or failure result.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "reader_tree.h"

namespace {

constexpr short kScope = -1;
constexpr short kAnalog = 0;
constexpr short kDigital = 2;
constexpr short kBus = 3;
constexpr short kMaybeBusMember = -2;

// A leaf name of the form base[index] with a decimal index.
bool ParseMemberName(const std::string& name, std::string* base, long long* index)
{
    std::size_t open = name.rfind('[');
    if (name.size() < 4 || name.back() != ']' || open == std::string::npos || open == 0) {
        return false;
    }
    std::size_t digits = name.size() - open - 2;
    if (digits == 0 || digits > 18) {
        return false;
    }
    long long value = 0;
    for (std::size_t i = open + 1; i + 1 < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return false;
        }
        value = value * 10 + (name[i] - '0');
    }
    *base = name.substr(0, open);
    *index = value;
    return true;
}

}  // namespace

struct ReaderTreeBusImpl {
    struct Member {
        long long index;
        int idcode;
    };
    std::vector<Member> members;  // in insertion order until sorted
    bool sorted = true;

    void sortMembers()
    {
        if (!sorted) {
            std::stable_sort(members.begin(), members.end(),
                             [](const Member& a, const Member& b) { return a.index > b.index; });
            sorted = true;
        }
    }
};

// What a node with children holds; leaves, the most numerous nodes, have none of it.
struct NodeChildren {
    std::vector<ReaderTreeNode*> children;
    // The first child of each name. Most scopes are never looked up by name, so it is built at
    // the first lookup or before the first rename of a bus (so that it follows renames as if
    // kept from the start), then kept up.
    std::unordered_map<std::string, ReaderTreeNode*> childByName;
    bool indexed = false;
    // Children whose name an earlier one held when they were indexed: only then can a bus's
    // old name, once it leaves it, belong to another child.
    size_t shadowed = 0;
    std::unordered_map<std::string, ReaderTreeNode*> busByBase;  // bus nodes of this scope
};

// What a bus node holds besides its members' nodes.
struct BusPart {
    std::unique_ptr<ReaderTreeBus> bus;
    ReaderTreeBusImpl members;
    std::string busBase;
    long long msb = 0;
    long long lsb = 0;
};

struct ReaderTreeNodeImpl {
    ReaderTree* tree = nullptr;
    std::string name;
    short leafType = kScope;
    bool inserted = false;
    std::unique_ptr<NodeChildren> kids;  // made with the first child
    std::unique_ptr<BusPart> busPart;    // bus nodes only
};

// The tree's private access to the classes of reader_tree.h.
struct ReaderTreeAccess {
    // A node and its private part in one slot. Slots live in chunks of many: one allocation per
    // chunk, and addresses that never change as the tree grows.
    struct NodeSlot {
        ReaderTreeNode node;
        ReaderTreeNodeImpl impl;
    };

    static ReaderTreeNode* NewNode(ReaderTree* tree, ReaderTreeImpl& impl, const char* name,
                                   short leafType, int idcode);

    static void MakeBus(ReaderTreeNodeImpl& node)
    {
        node.busPart = std::make_unique<BusPart>();
        node.busPart->bus.reset(new ReaderTreeBus());
        node.busPart->bus->impl_ = &node.busPart->members;
    }

    static ReaderTreeNodeImpl& Impl(ReaderTreeNode* node) { return *node->impl_; }
    static ReaderTreeBusImpl* Impl(ReaderTreeBus* bus) { return bus->impl_; }
};

struct ReaderTreeImpl {
    static constexpr std::size_t kChunk = 256;
    std::vector<std::unique_ptr<ReaderTreeAccess::NodeSlot[]>> chunks;
    std::size_t used = kChunk;  // slots taken in the last chunk

    ReaderTreeAccess::NodeSlot& NextSlot()
    {
        if (used == kChunk) {
            auto chunk = std::make_unique<ReaderTreeAccess::NodeSlot[]>(kChunk);
            chunks.push_back(std::move(chunk));  // a failed push leaves the chunk to its owner
            used = 0;
        }
        return chunks.back()[used++];
    }
};

ReaderTreeNode* ReaderTreeAccess::NewNode(ReaderTree* tree, ReaderTreeImpl& impl, const char* name,
                                          short leafType, int idcode)
{
    NodeSlot& slot = impl.NextSlot();
    try {
        slot.impl.name = name;
    } catch (...) {
        --impl.used;  // the slot, left as it was, is taken by the next node
        throw;
    }
    slot.impl.tree = tree;
    slot.impl.leafType = leafType;
    slot.node.idcode = idcode;
    slot.node.parent = nullptr;
    slot.node.impl_ = &slot.impl;
    return &slot.node;
}

namespace {

using Access = ReaderTreeAccess;

bool IsLeaf(ReaderTreeNode* node)
{
    return Access::Impl(node).leafType != kScope;
}

bool IsBus(ReaderTreeNode* node)
{
    return Access::Impl(node).busPart != nullptr;
}

// The node's children and name indexes: empty ones for a node without children.
const NodeChildren& KidsOf(ReaderTreeNode* node)
{
    static const NodeChildren none;
    const std::unique_ptr<NodeChildren>& kids = Access::Impl(node).kids;
    return kids != nullptr ? *kids : none;
}

NodeChildren& KidsFor(ReaderTreeNode* node)
{
    std::unique_ptr<NodeChildren>& kids = Access::Impl(node).kids;
    if (kids == nullptr) {
        kids = std::make_unique<NodeChildren>();
    }
    return *kids;
}

// The node's name index, built from its children in order when first needed.
std::unordered_map<std::string, ReaderTreeNode*>& IndexOf(NodeChildren& kids)
{
    if (!kids.indexed) {
        try {
            for (ReaderTreeNode* child : kids.children) {
                kids.shadowed += !kids.childByName.emplace(Access::Impl(child).name, child).second;
            }
        } catch (...) {
            kids.childByName.clear();
            kids.shadowed = 0;
            throw;
        }
        kids.indexed = true;
    }
    return kids.childByName;
}

void AddChild(ReaderTreeNode* parent, ReaderTreeNode* child)
{
    NodeChildren& p = KidsFor(parent);
    // Vectors grow geometrically; if the name index cannot take the child, undo the append.
    p.children.push_back(child);
    try {
        if (p.indexed) {
            p.shadowed += !p.childByName.emplace(Access::Impl(child).name, child).second;
        }
    } catch (...) {
        p.children.pop_back();
        throw;
    }
    child->parent = parent;
    Access::Impl(child).inserted = true;
}

// The name a bus leaves goes to the first other child that holds it, if any.
void GiveNameToNextHolder(NodeChildren& kids, ReaderTreeNode* bus, const std::string& name)
{
    if (kids.shadowed == 0) {
        return;
    }
    for (ReaderTreeNode* child : kids.children) {
        if (child != bus && Access::Impl(child).name == name) {
            kids.childByName.emplace(name, child);
            --kids.shadowed;
            return;
        }
    }
}

// Renames a bus node after its index range changed, keeping the parent's name index right.
void RenameBus(ReaderTreeNode* bus)
{
    ReaderTreeNodeImpl& b = Access::Impl(bus);
    const BusPart& part = *b.busPart;
    std::string name =
        part.busBase + "[" + std::to_string(part.msb) + ":" + std::to_string(part.lsb) + "]";
    if (name == b.name) {
        return;
    }
    NodeChildren& kids = KidsFor(bus->parent);
    std::unordered_map<std::string, ReaderTreeNode*>& index = IndexOf(kids);
    auto old = index.find(b.name);
    if (old != index.end() && old->second == bus) {
        index.erase(old);
        GiveNameToNextHolder(kids, bus, b.name);
    }
    kids.shadowed += !index.emplace(name, bus).second;
    b.name = std::move(name);
}

// Names from below the root to the node, joined with "/".
std::string FullPath(ReaderTreeNode* node)
{
    std::vector<const std::string*> names;
    for (; node != nullptr && node->parent != nullptr; node = node->parent) {
        names.push_back(&Access::Impl(node).name);
    }
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!path.empty() || it != names.rbegin()) {
            path += '/';
        }
        path += **it;
    }
    return path;
}

// Calls visit(node, fullPath) for every leaf at or below start, depth first in insertion order.
// Bus members are not visited: the bus node stands for them. Iterative, so depth is unbounded.
template <typename Visit>
void ForEachLeaf(ReaderTreeNode* start, Visit visit)
{
    struct Frame {
        ReaderTreeNode* node;
        std::size_t next;
        std::size_t pathLength;
    };
    if (start == nullptr) {
        return;
    }
    std::string path = FullPath(start);
    std::vector<Frame> stack;
    auto enter = [&](ReaderTreeNode* node) {
        if (IsLeaf(node)) {
            visit(node, path);
        }
        if (!IsBus(node) && !KidsOf(node).children.empty()) {
            stack.push_back(Frame{node, 0, path.size()});
        }
    };
    enter(start);
    while (!stack.empty()) {
        Frame& top = stack.back();
        const std::vector<ReaderTreeNode*>& children = KidsOf(top.node).children;
        if (top.next == children.size()) {
            stack.pop_back();
            continue;
        }
        ReaderTreeNode* child = children[top.next++];
        path.resize(top.pathLength);
        if (!path.empty() || top.node->parent != nullptr) {
            path += '/';
        }
        path += Access::Impl(child).name;
        enter(child);
    }
}

// Glob matching with Tcl's "string match" rules ("*", "?", "[chars]" with ranges, "\x"), in time
// proportional to the text's length times the pattern's. Tcl's own matcher retries every
// position for every "*" recursively, which is exponential in the number of stars.
class GlobMatcher {
public:
    explicit GlobMatcher(const std::string& pattern) { Decode(pattern, &pattern_); }

    bool Matches(const std::string& text)
    {
        Decode(text, &text_);
        // Everything from failedFrom_[q] on is known not to match the pattern from q.
        failedFrom_.assign(pattern_.size() + 1, text_.size() + 1);
        return Run();
    }

private:
    enum Outcome { kMatch, kFail, kStar };

    // One retry point: the pattern after a run of stars, tried at every text position in turn.
    struct StarFrame {
        std::size_t patternAt;
        std::size_t firstText;
        std::size_t nextText;
        std::size_t endText;
    };

    static void Decode(const std::string& text, std::vector<Tcl_UniChar>* chars)
    {
        chars->clear();
        Tcl_UniChar ch = 0;
        for (std::size_t i = 0; i < text.size();) {
            int length = Tcl_UtfToUniChar(text.c_str() + i, &ch);
            i += length > 0 ? static_cast<std::size_t>(length) : 1;
            chars->push_back(ch);
        }
    }

    // Matches one "[...]" set at p (just after the "[") against c; advances p past the set.
    bool MatchSet(std::size_t* p, Tcl_UniChar c) const
    {
        std::size_t at = *p;
        const std::size_t end = pattern_.size();
        while (true) {
            if (at == end || pattern_[at] == ']') {
                return false;
            }
            Tcl_UniChar first = pattern_[at++];
            if (at < end && pattern_[at] == '-') {
                if (++at == end) {
                    return false;
                }
                Tcl_UniChar last = pattern_[at++];
                if ((first <= c && c <= last) || (last <= c && c <= first)) {
                    break;
                }
            } else if (first == c) {
                break;
            }
        }
        // The rest of the set is skipped up to its "]"; an unclosed set ends the pattern.
        while (at < end && pattern_[at] != ']') {
            ++at;
        }
        *p = at < end ? at + 1 : end;
        return true;
    }

    // Matches from (s, p) up to the end or the next star: kStar leaves p after the stars.
    Outcome Segment(std::size_t s, std::size_t* p) const
    {
        const std::size_t end = pattern_.size();
        while (true) {
            if (*p == end) {
                return s == text_.size() ? kMatch : kFail;
            }
            Tcl_UniChar c = pattern_[*p];
            if (c == '*') {
                while (*p < end && pattern_[*p] == '*') {
                    ++*p;
                }
                return *p == end ? kMatch : kStar;
            }
            if (s == text_.size()) {
                return kFail;
            }
            ++*p;
            if (c == '?') {
                ++s;
                continue;
            }
            if (c == '[') {
                if (!MatchSet(p, text_[s++])) {
                    return kFail;
                }
                continue;
            }
            if (c == '\\') {
                if (*p == end) {
                    return kFail;
                }
                c = pattern_[(*p)++];
            }
            if (text_[s++] != c) {
                return kFail;
            }
        }
    }

    // A star at pattern position q retries the rest of the pattern at every later text position.
    // Any success is the answer, so a retry point that runs out proves every position from its
    // first one on fails; remembering that keeps the work to one try per (position, star).
    bool Run()
    {
        std::vector<StarFrame> stars;
        std::size_t s = 0;
        std::size_t p = 0;
        while (true) {
            Outcome outcome = Segment(s, &p);
            if (outcome == kMatch) {
                return true;
            }
            if (outcome == kStar && s < failedFrom_[p]) {
                stars.push_back(StarFrame{p, s, s + 1, failedFrom_[p]});
                continue;
            }
            while (!stars.empty() && stars.back().nextText >= stars.back().endText) {
                failedFrom_[stars.back().patternAt] = stars.back().firstText;
                stars.pop_back();
            }
            if (stars.empty()) {
                return false;
            }
            s = stars.back().nextText++;
            p = stars.back().patternAt;
        }
    }

    std::vector<Tcl_UniChar> pattern_;
    std::vector<Tcl_UniChar> text_;
    std::vector<std::size_t> failedFrom_;
};

bool TypeMatches(ReaderTreeNode* node, short leafType)
{
    return leafType == -1 || Access::Impl(node).leafType == leafType;
}

// Appends the full path of every leaf of that type below start, with its idcode when withIds.
int AppendLeafPaths(ReaderTreeNode* start, short leafType, bool withIds, Tcl_DString* result)
{
    if (result == nullptr) {
        return 1;
    }
    try {
        ForEachLeaf(start, [&](ReaderTreeNode* leaf, const std::string& path) {
            if (TypeMatches(leaf, leafType)) {
                Tcl_DStringAppendElement(result, path.c_str());
                if (withIds) {
                    Tcl_DStringAppendElement(result, std::to_string(leaf->idcode).c_str());
                }
            }
        });
    } catch (...) {
        return 1;
    }
    return 0;
}

}  // namespace

unsigned int ReaderTreeBus::GetBusWidth()
{
    return impl_ == nullptr ? 0 : static_cast<unsigned int>(impl_->members.size());
}

void ReaderTreeBus::GetBusIds(int* ids)
{
    if (impl_ == nullptr || ids == nullptr) {
        return;
    }
    impl_->sortMembers();
    for (const ReaderTreeBusImpl::Member& member : impl_->members) {
        *ids++ = member.idcode;
    }
}

ReaderTreeBus* ReaderTreeNode::GetNodeBus()
{
    return impl_ == nullptr || impl_->busPart == nullptr ? nullptr : impl_->busPart->bus.get();
}

ReaderTree::ReaderTree() : rootNode(nullptr), currentNode(nullptr), leafTypes{-1, -1, -1, -1}
{
    // Without memory for its root the tree stays empty (null root): every method then answers
    // with nothing, and the caller can tell by the null root.
    impl_ = nullptr;
    try {
        impl_ = new ReaderTreeImpl();
        rootNode = Access::NewNode(this, *impl_, "", kScope, -1);
    } catch (...) {
        delete impl_;
        impl_ = nullptr;
        return;
    }
    Access::Impl(rootNode).inserted = true;
    currentNode = rootNode;
}

ReaderTree::~ReaderTree()
{
    delete impl_;
}

ReaderTreeNode* ReaderTree::CreateTreeNode(const char* name, short leafType, int idcode)
{
    if (name == nullptr || impl_ == nullptr) {
        return nullptr;
    }
    try {
        return Access::NewNode(this, *impl_, name, leafType, idcode);
    } catch (...) {
        return nullptr;
    }
}

void ReaderTree::InsertNode(ReaderTreeNode* node)
{
    if (node == nullptr || node->impl_ == nullptr || node->impl_->tree != this ||
        node->impl_->inserted) {
        return;
    }
    ReaderTreeNode* parent = currentNode != nullptr ? currentNode : rootNode;
    ReaderTreeNodeImpl& n = *node->impl_;
    try {
        std::string base;
        long long index = 0;
        if (n.leafType != kMaybeBusMember) {
            AddChild(parent, node);
            return;
        }
        n.leafType = kDigital;
        if (!ParseMemberName(n.name, &base, &index)) {
            AddChild(parent, node);
            return;
        }
        ReaderTreeNode*& bus = KidsFor(parent).busByBase[base];
        if (bus == nullptr) {
            ReaderTreeNode* created = Access::NewNode(this, *impl_, "", kBus, node->idcode);
            ReaderTreeNodeImpl& b = Access::Impl(created);
            Access::MakeBus(b);
            b.busPart->busBase = base;
            b.busPart->msb = b.busPart->lsb = index;
            b.name = base + "[" + std::to_string(index) + ":" + std::to_string(index) + "]";
            AddChild(parent, created);
            bus = created;
            SetLeaveTypes(kBus);
        }
        BusPart& part = *Access::Impl(bus).busPart;
        part.members.members.push_back(ReaderTreeBusImpl::Member{index, node->idcode});
        part.members.sorted = false;
        part.msb = std::max(part.msb, index);
        part.lsb = std::min(part.lsb, index);
        RenameBus(bus);
        AddChild(bus, node);
    } catch (...) {
        // The node stays uninserted; the tree keeps it and frees it with the rest.
    }
}

void ReaderTree::SetCurrentNode(ReaderTreeNode* node)
{
    currentNode = node != nullptr ? node : rootNode;
}

ReaderTreeNode* ReaderTree::GetCurrentChildFromName(ReaderTreeNode* node, const char* name)
{
    if (node == nullptr) {
        node = rootNode;
    }
    if (name == nullptr || node == nullptr) {
        return nullptr;
    }
    if (Access::Impl(node).kids == nullptr) {
        return nullptr;
    }
    try {
        const std::unordered_map<std::string, ReaderTreeNode*>& index =
            IndexOf(*Access::Impl(node).kids);
        auto found = index.find(name);
        return found == index.end() ? nullptr : found->second;
    } catch (...) {
        return nullptr;
    }
}

void ReaderTree::SetLeaveTypes(short leafKind)
{
    if (leafKind < kAnalog || leafKind > kBus) {
        return;
    }
    for (short& slot : leafTypes) {
        if (slot == leafKind) {
            return;
        }
        if (slot < kAnalog || slot > kBus) {
            slot = leafKind;
            return;
        }
    }
}

ReaderTreeNode* ReaderTree::GetNodeFromPath(ReaderTreeNode* start, char* path)
{
    if (path == nullptr) {
        return nullptr;
    }
    try {
        std::string rest(path);
        if (!rest.empty() && rest.front() == '/') {
            rest.erase(0, 1);
        }
        if (!rest.empty() && rest.back() == '/') {
            rest.pop_back();
        }
        ReaderTreeNode* node = start != nullptr ? start : rootNode;
        if (rest.empty()) {
            return node;
        }
        std::size_t from = 0;
        while (node != nullptr) {
            std::size_t slash = rest.find('/', from);
            std::string name = rest.substr(from, slash == std::string::npos ? slash : slash - from);
            ReaderTreeNode* child = GetCurrentChildFromName(node, name.c_str());
            if (child == nullptr) {
                // A bus member is also found directly below its scope: scope/data[3].
                std::string base;
                long long index = 0;
                const auto& buses = KidsOf(node).busByBase;
                auto bus = ParseMemberName(name, &base, &index) ? buses.find(base) : buses.end();
                child = bus == buses.end() ? nullptr
                                           : GetCurrentChildFromName(bus->second, name.c_str());
            }
            node = child;
            if (slash == std::string::npos) {
                break;
            }
            from = slash + 1;
        }
        return node;
    } catch (...) {
        return nullptr;
    }
}

void ReaderTree::GetAllChildNodeNames(ReaderTreeNode* node, Tcl_DString* result)
{
    if (node == nullptr) {
        node = rootNode;
    }
    if (result == nullptr || node == nullptr) {
        return;
    }
    for (ReaderTreeNode* child : KidsOf(node).children) {
        Tcl_DStringAppendElement(result, Access::Impl(child).name.c_str());
    }
}

int ReaderTree::GetTreeLeaveFullPaths(ReaderTreeNode* start, Tcl_DString* /*scratch*/,
                                      short leafType, Tcl_DString* result)
{
    return AppendLeafPaths(start != nullptr ? start : rootNode, leafType, false, result);
}

int ReaderTree::GetTreeLeaveFullPathsNIds(ReaderTreeNode* start, Tcl_DString* /*scratch*/,
                                          short leafType, Tcl_DString* result)
{
    return AppendLeafPaths(start != nullptr ? start : rootNode, leafType, true, result);
}

short ReaderTree::GetLeafTypeFromString(const char* text)
{
    static const char* const kWords[] = {"analog", "event", "digital", "bus"};
    if (text == nullptr) {
        return -1;
    }
    for (short type = 0; type < 4; ++type) {
        if (std::strcmp(text, kWords[type]) == 0) {
            return type;
        }
    }
    return -1;
}

int ReaderTree::SearchTree(Tcl_Interp* /*interp*/, int argc, const char** argv, Tcl_DString* result)
{
    if (result == nullptr) {
        return 1;
    }
    try {
        // The words may point into the query that result holds, so read them before clearing it.
        std::vector<std::string> words;
        for (int i = 0; i < argc && argv != nullptr; ++i) {
            words.emplace_back(argv[i] != nullptr ? argv[i] : "");
        }
        Tcl_DStringSetLength(result, 0);
        std::string pattern = "*";
        short leafType = -1;
        bool valid = words.size() % 2 == 0;
        for (std::size_t i = 0; valid && i + 1 < words.size(); i += 2) {
            if (words[i] == "-pattern") {
                pattern = words[i + 1];
            } else if (words[i] == "-withtype") {
                leafType = GetLeafTypeFromString(words[i + 1].c_str());
                valid = leafType >= 0;
            } else {
                valid = false;
            }
        }
        if (!valid) {
            return 1;
        }
        GlobMatcher matcher(pattern);
        ForEachLeaf(rootNode, [&](ReaderTreeNode* leaf, const std::string& path) {
            if (TypeMatches(leaf, leafType) && matcher.Matches(path)) {
                Tcl_DStringAppendElement(result, path.c_str());
            }
        });
    } catch (...) {
        Tcl_DStringSetLength(result, 0);
        return 1;
    }
    return 0;
}
