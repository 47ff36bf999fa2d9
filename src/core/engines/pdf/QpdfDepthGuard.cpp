// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/QpdfDepthGuard.h"

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kolvex::qpdf_bridge {

NestedTooDeeply::NestedTooDeeply(Nesting found)
    : std::runtime_error("PDF " + found.structure + " nested more than " + std::to_string(found.limit) + " levels deep"),
      nesting(std::move(found)) {}

namespace {

using Children = std::function<std::vector<QPDFObjectHandle>(QPDFObjectHandle)>;

// The most levels on one path down from `root`, a tree whose nodes `children` lists, as a walker
// that enters every path would meet them (a node shared by two parents counts below each), but
// stopping at `limit` + 1. A node on the path is not entered again, as qpdf's walks do not.
// Work is linear in the nodes: what lies below a shared node is measured once.
size_t levels(QPDFObjectHandle root, const Children& children, size_t limit) {
    struct Level {
        QPDFObjectHandle node;
        std::vector<QPDFObjectHandle> children;
        size_t next = 0;
        size_t below = 0;  // the most levels under this node met so far
    };
    std::map<QPDFObjGen, size_t> measured;  // levels from an indirect node down, itself included
    std::set<QPDFObjGen> onPath;
    std::vector<Level> path;
    size_t deepest = 0;
    const auto enter = [&](QPDFObjectHandle node) {
        if (!node.isDictionary()) return size_t{0};
        if (node.isIndirect()) {
            const QPDFObjGen id = node.getObjGen();
            if (onPath.count(id)) return size_t{0};
            auto known = measured.find(id);
            if (known != measured.end()) return known->second;
            onPath.insert(id);
        }
        path.push_back(Level{node, children(node)});
        deepest = std::max(deepest, path.size());
        return size_t{0};
    };
    enter(root);
    while (!path.empty() && deepest <= limit) {
        Level& level = path.back();
        if (level.next < level.children.size()) {
            QPDFObjectHandle child = level.children[level.next++];
            const size_t depth = path.size();
            const size_t known = enter(child);  // may grow the path, moving `level`
            if (known > 0) {
                path[depth - 1].below = std::max(path[depth - 1].below, known);
                deepest = std::max(deepest, depth + known);
            }
            continue;
        }
        const size_t height = level.below + 1;
        if (level.node.isIndirect()) {
            measured[level.node.getObjGen()] = height;
            onPath.erase(level.node.getObjGen());
        }
        path.pop_back();
        if (!path.empty()) path.back().below = std::max(path.back().below, height);
    }
    return deepest;
}

// The dictionaries of `node`'s /Kids.
std::vector<QPDFObjectHandle> kids(QPDFObjectHandle node) {
    std::vector<QPDFObjectHandle> found;
    QPDFObjectHandle array = node.getKey("/Kids");
    if (!array.isArray()) return found;
    for (QPDFObjectHandle kid : array.aitems()) {
        if (kid.isDictionary()) found.push_back(kid);
    }
    return found;
}

// Page tree nodes below `node`: qpdf enters a kid as a node when it has kids of its own.
std::vector<QPDFObjectHandle> pageTreeKids(QPDFObjectHandle node) {
    std::vector<QPDFObjectHandle> found;
    for (QPDFObjectHandle kid : kids(node)) {
        if (kid.hasKey("/Kids")) found.push_back(kid);
    }
    return found;
}

// An outline item's children: /First, then each one's /Next, however long the list.
std::vector<QPDFObjectHandle> outlineChildren(QPDFObjectHandle item) {
    std::vector<QPDFObjectHandle> found;
    std::set<QPDFObjGen> listed;
    for (QPDFObjectHandle child = item.getKey("/First"); child.isDictionary(); child = child.getKey("/Next")) {
        if (child.isIndirect() && !listed.insert(child.getObjGen()).second) break;
        found.push_back(child);
    }
    return found;
}

}  // namespace

Nesting deepestTree(QPDF& pdf) {
    QPDFObjectHandle root = pdf.getRoot();
    std::vector<std::pair<std::string, std::pair<QPDFObjectHandle, Children>>> trees;
    trees.push_back({"page tree", {root.getKey("/Pages"), pageTreeKids}});
    trees.push_back({"outline", {root.getKey("/Outlines"), outlineChildren}});
    QPDFObjectHandle names = root.getKey("/Names");
    if (names.isDictionary()) {
        for (auto [key, tree] : names.ditems()) trees.push_back({"name tree", {tree, kids}});
    }
    trees.push_back({"number tree", {root.getKey("/PageLabels"), kids}});
    QPDFObjectHandle structure = root.getKey("/StructTreeRoot");
    if (structure.isDictionary()) {
        trees.push_back({"number tree", {structure.getKey("/ParentTree"), kids}});
        trees.push_back({"name tree", {structure.getKey("/IDTree"), kids}});
    }
    QPDFObjectHandle form = root.getKey("/AcroForm");
    if (form.isDictionary()) {
        QPDFObjectHandle fields = QPDFObjectHandle::newDictionary();
        fields.replaceKey("/Kids", form.getKey("/Fields"));
        trees.push_back({"form field tree", {fields, kids}});
    }
    for (const auto& [structureName, tree] : trees) {
        if (levels(tree.first, tree.second, kMaxTreeDepth) > kMaxTreeDepth) return Nesting{structureName, kMaxTreeDepth};
    }
    return {};
}

void refuseTooDeepToCopy(QPDFObjectHandle object, std::set<QPDFObjGen>& seen) {
    struct Level {
        std::vector<QPDFObjectHandle> children;
        size_t next = 0;
    };
    const auto copiedChildren = [](QPDFObjectHandle item) {
        std::vector<QPDFObjectHandle> children;
        if (item.isArray()) {
            for (QPDFObjectHandle child : item.aitems()) children.push_back(child);
        } else if (item.isDictionary()) {
            for (auto [key, child] : item.ditems()) children.push_back(child);
        } else if (item.isStream()) {
            children.push_back(item.getDict());
        }
        return children;
    };
    std::vector<Level> path;
    const auto enter = [&](QPDFObjectHandle item, bool top) {
        if (item.isPagesObject()) return;
        if (item.isIndirect()) {
            if (!top && item.isPageObject()) return;
            if (!seen.insert(item.getObjGen()).second) return;
        }
        if (path.size() >= kMaxCopyDepth) throw NestedTooDeeply(Nesting{"objects", kMaxCopyDepth});
        path.push_back(Level{copiedChildren(item)});
    };
    enter(object, true);
    while (!path.empty()) {
        Level& level = path.back();
        if (level.next == level.children.size()) {
            path.pop_back();
            continue;
        }
        QPDFObjectHandle child = level.children[level.next++];
        enter(child, false);
    }
}

}  // namespace kolvex::qpdf_bridge
