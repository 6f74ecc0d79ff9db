// The Export Plus work list and the ticks of the field tree.
#include "ExportPlusWorkList.h"

#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "ExportPlusCatalogue.h"
#include "modExchTree.h"

namespace {

bool IsCategory(const QTreeWidgetItem* node) {
  const std::string image = FieldImage(node);
  return image == "Check" || image == "Uncheck";
}

// Whether an entry is the one of this object's category (the group caption
// only counts for a category that has a group).
bool Matches(const std::vector<std::string>& f, const std::string& objectKey, const QTreeWidgetItem* node) {
  if (f[0] != objectKey || f[2] != NodeKey(node)) return false;
  return !node->parent() || f[1] == NodeText(node->parent());
}

}  // namespace

std::string JoinWorkItem(const std::string& objectKey, const std::string& group, const std::string& tab,
                         const std::string& objectText, const std::string& caption) {
  return objectKey + "@@" + group + "@@" + tab + "@@" + objectText + "@@" + caption;
}

std::vector<std::string> SplitWorkItem(const std::string& item) {
  std::vector<std::string> f;
  size_t start = 0;
  for (;;) {
    const size_t at = item.find("@@", start);
    f.push_back(item.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 2;
  }
  f.resize(5);
  return f;
}

void SaveFieldTicks(std::vector<std::string>& list, const QTreeWidget& tvwFields, const std::string& objectKey,
                    const std::string& objectText) {
  for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(&tvwFields)); *it; ++it) {
    const QTreeWidgetItem* node = *it;
    if (!IsCategory(node)) continue;
    for (auto entry = list.begin(); entry != list.end(); ++entry) {
      if (Matches(SplitWorkItem(*entry), objectKey, node)) {
        list.erase(entry);
        break;
      }
    }
    if (FieldImage(node) == "Check")
      list.push_back(JoinWorkItem(objectKey, NodeText(node->parent()), NodeKey(node), objectText, NodeText(node)));
  }
}

void RestoreFieldTicks(const std::vector<std::string>& list, QTreeWidget& tvwFields, const std::string& objectKey,
                       const ImageList* images) {
  if (list.empty()) return;
  std::vector<std::vector<std::string>> entries;
  entries.reserve(list.size());
  for (const auto& item : list) entries.push_back(SplitWorkItem(item));
  for (QTreeWidgetItemIterator it(&tvwFields); *it; ++it) {
    QTreeWidgetItem* node = *it;
    if (!IsCategory(node)) continue;
    bool ticked = false;
    for (const auto& f : entries)
      if (Matches(f, objectKey, node)) {
        ticked = true;
        break;
      }
    SetFieldImage(node, ticked ? "Check" : "Uncheck", images);
  }
}
