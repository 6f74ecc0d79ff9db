#pragma once
// The Export Plus work list: one entry per ticked category of every object
// node visited, five texts joined by "@@": the object node's key, the
// category's group caption ("" at top level), the category's key
// (TabName), the object node's text and the category's caption.
#include <string>
#include <vector>

class ImageList;
class QTreeWidget;

std::string JoinWorkItem(const std::string& objectKey, const std::string& group, const std::string& tab,
                         const std::string& objectText, const std::string& caption);
// The five fields of an entry (missing ones empty, a sixth and later "@@"
// piece dropped).
std::vector<std::string> SplitWorkItem(const std::string& item);

// Takes the ticks the field tree shows for the object (key, text) into the
// list: for every category node, in tree order, the object's first entry
// for that category goes, and a ticked category is appended anew.
void SaveFieldTicks(std::vector<std::string>& list, const QTreeWidget& tvwFields, const std::string& objectKey,
                    const std::string& objectText);

// Shows the list's ticks for the object in the field tree: a category is
// ticked when the list has an entry for it, else unticked. An empty list
// leaves the catalogue's own ticks.
void RestoreFieldTicks(const std::vector<std::string>& list, QTreeWidget& tvwFields, const std::string& objectKey,
                       const ImageList* images);
