#pragma once
// The property pages Export Plus offers for each kind of object node, as
// one table: which categories a kind shows in the field tree, grouped by
// object type, with their captions, keys (TabNames), images and first tick
// state. Nothing of it is read from the database.
//
// Kinds: 0 a recipients container, 1 the site's Protocols, 3 the site's
// Connections, 4 a server's private store, 5 a server's Protocols, 6 a
// server's public store, 7 Server Recipients, 8 the MTA, 9 the System
// Attendant, 10 the organisation or the site, 11 another container under
// the site (Configuration) or Servers, 12 a server.
#include <string>
#include <vector>

class ImageList;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

// One node of the field tree, in the order it is added.
struct CatalogueNode {
  bool group = false;       // a group node (no key, no tick)
  std::string text;         // caption ("General *" for a profile category)
  std::string key;          // TabName; "" for groups and kind 0's Summary pages
  std::string image;        // group: object-type image; category: "Check" or "Uncheck"
  std::string selectedImage;  // "Protocols" for kind 1's Summary group, else ""
  int parent = -1;          // index of the group node it belongs to, -1 at top level
};

// The field tree's nodes for a kind; empty for a kind outside 0 to 12 or
// for kind 2, which no object has.
std::vector<CatalogueNode> CatalogueFor(int kind);

// True for the kinds whose catalogue holds a profile category (0, 4, 6).
bool CatalogueNeedsProfile(int kind);

// The hint shown under the field tree for those kinds.
inline constexpr const char* kProfileHint =
    "* requires profile information to retrieve the corresponding information.";

// Empties the field tree and fills it with the kind's catalogue (nodes
// collapsed, none selected); shows the hint and shortens the field tree
// for kinds 0, 4 and 6, else hides the hint and makes the field tree as
// tall as the object tree.
// Pictures come from images (the main window's tree images; none when
// null).
void FillFieldTree(QTreeWidget& tvwFields, const QTreeWidget& tvwObjects, QLabel& lblProfileInfo, int kind,
                   const ImageList* images);

// A field node's image key (its tick state for a category) and its change,
// picture included.
std::string FieldImage(const QTreeWidgetItem* node);
void SetFieldImage(QTreeWidgetItem* node, const std::string& image, const ImageList* images);
