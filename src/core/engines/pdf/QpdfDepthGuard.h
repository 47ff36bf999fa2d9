// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How deep a document's structures may nest before qpdf walks them. qpdf follows page trees,
// outlines, name and number trees, form fields and (when it copies) every object a page refers
// to by recursion, one frame of the thread's stack per level: a file nested deeply enough takes
// the process with it. These walks measure the same structures on the heap first. Included only
// by the files built as C++17 that talk to qpdf directly (see QpdfBridge.h).

#include <cstddef>
#include <set>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include "core/engines/pdf/QpdfBridge.h"

namespace kolvex::qpdf_bridge {

// Levels of a page tree, outline, name or number tree or field tree. No real document comes near
// it (a tree of a few levels holds millions of pages); qpdf's walks take up to a few hundred
// bytes of stack a level, several times that in a sanitised build: this many stays far inside
// any thread's stack.
constexpr size_t kMaxTreeDepth = 1000;

// Objects on one path of qpdf's copier, which takes some 150 bytes of stack a level.
constexpr size_t kMaxCopyDepth = 10000;

// The first of the document's trees deeper than kMaxTreeDepth, or an empty structure name.
Nesting deepestTree(QPDF& pdf);

// Throws NestedTooDeeply when copying `object` with qpdf's copier would go more than
// kMaxCopyDepth objects deep. The copier's own order is followed (arrays in order, dictionary
// keys sorted, a stream through its dictionary); page tree nodes, other pages and the objects in
// `seen` (already copied, or on the path) are not entered, and what is entered joins `seen`.
void refuseTooDeepToCopy(QPDFObjectHandle object, std::set<QPDFObjGen>& seen);

}  // namespace kolvex::qpdf_bridge
