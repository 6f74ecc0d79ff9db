#pragma once
// The site tree of one Exchange server, as the browse window, the custom
// report window, the report designer and the Export Plus window show it:
// the organisation, its site, the site's configuration containers, the
// server with its six server objects, and one node per recipient container
// of the site (each with a "Childnodetext" placeholder child until it is
// expanded).
//
// Every node carries a text, a key and an image key. The organisation's
// key is "o=" + Org; every other key is the parent's key, "/", and the
// node's own relative name, so a key reads as the directory path from the
// organisation down (o=Velmor/ou=Lakeside/cn=Configuration/cn=Servers/cn=EX1).
// The browse window recognises node kinds by these texts, keys and images.
#include <functional>
#include <string>

class ImageList;
class QTreeWidget;
class QTreeWidgetItem;

// Where a node keeps its key and its image key (QTreeWidgetItem::data of
// column 0).
inline constexpr int kNodeKeyRole = 0x0100 + 1;    // Qt::UserRole + 1
inline constexpr int kNodeImageRole = 0x0100 + 2;  // Qt::UserRole + 2

// Binds an image list to a tree: nodes added afterwards show the picture
// of their image key. A tree without one shows no pictures (the keys are
// kept all the same).
void BindTreeImages(QTreeWidget& tree, const ImageList* images);

// Adds a node as the last child of parent (a top-level node when parent is
// null). A key that is already in the tree throws velmo::ComError
// 0x800A8B12 "Key is not unique in collection", as the tree control does.
QTreeWidgetItem* AddTreeNode(QTreeWidget& tree, QTreeWidgetItem* parent, const std::string& key,
                             const std::string& text, const std::string& image);

// Adds the node of a container read from the directory, named childName
// (its relative name, "cn=Sales"), as the last child of parent: its key is
// parentKey + "/cn=" + the name without "cn=" exactly as the server wrote
// it, so it names the entry; its text is that name as a person reads it
// (velmo::ads::NameShown: "Odd \22Name\22" shows as "Odd "Name"").
QTreeWidgetItem* AddContainerNode(QTreeWidget& tree, QTreeWidgetItem* parent, const std::string& parentKey,
                                  const std::string& childName);

// The key of the placeholder under the n-th container added by an
// expansion (n from 1, in the directory's order), from the expanded node's
// key.
using PlaceholderKey = std::function<std::string(const std::string& nodeKey, int n)>;

// True while the node's first child is the placeholder of a container
// whose sub-containers were not read yet (its text holds "Childnodetext").
bool AwaitsExpansion(const QTreeWidgetItem* node);

// A container node's first expansion, as the browse window, the custom
// report window and the Export Plus window list sub-containers. Nothing is
// done unless the node awaits it (above). The placeholder goes (a
// selection on it moves up to the node); the directory object "LDAP://" + server + "/" + the node's key is
// bound with user and password (the current logon when user is empty,
// which is how the window connected) and each of its containers is added
// with AddContainerNode, with a placeholder "Childnodetext" + n keyed by
// placeholderKey, or none when placeholderKey is empty (a node that cannot
// be expanded further), under the wait cursor. A container that cannot be
// bound or listed keeps the nodes added so far, and nothing is said.
void ExpandContainerNode(QTreeWidget& tree, QTreeWidgetItem* node, const std::string& server,
                         const std::string& user, const std::string& password,
                         const PlaceholderKey& placeholderKey);

std::string NodeKey(const QTreeWidgetItem* node);
std::string NodeImage(const QTreeWidgetItem* node);
std::string NodeText(const QTreeWidgetItem* node);
// The node with that key, or null.
QTreeWidgetItem* FindTreeNode(const QTreeWidget& tree, const std::string& key);
// True for the first node of the tree (the organisation node, index 1).
bool IsFirstTreeNode(const QTreeWidgetItem* node);

// Fills a tree for one server. Mode 0 the browse window, 1 the custom
// report window, 3 the Export Plus window: nodes 1 to 13, then the site's
// recipient containers read from "LDAP://" + Server + "/ou=" + Site + ",o="
// + Org, bound with User and Password when User is not empty (else as the
// current logon). Mode 2, the report designer's template: nodes 1 to 13
// and one "Recipients" node, no directory access. The tree is not cleared
// first. A failed bind of the site is logged ("BuildTree - Getting
// Recipients container" + path) and leaves nodes 1 to 13 only.
void BuildTree(QTreeWidget& tree, short Mode, const std::string& Org, const std::string& Site,
               const std::string& Server, const std::string& User, const std::string& Password);

// Mode 0 for the browse window just created (the newest in the
// browse-window list): fills its tvwServers from the arguments given.
// Does nothing when no browse window is open.
void BuildTree(short Mode, const std::string& Org, const std::string& Site, const std::string& Server,
               const std::string& User, const std::string& Password);
