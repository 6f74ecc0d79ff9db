// The site tree of one Exchange server.
#include "modExchTree.h"

#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <QVariant>

#include <exception>

#include "ComError.h"
#include "Directory.h"
#include "Mdifrm.h"
#include "WaitCursor.h"
#include "frmExch.h"
#include "modExch.h"
#include "modGlobals.h"

namespace {

constexpr const char* kImagesProperty = "velmoTreeImages";

const ImageList* BoundImages(const QTreeWidget& tree) {
  const QVariant v = tree.property(kImagesProperty);
  return v.isValid() ? static_cast<const ImageList*>(v.value<const void*>()) : nullptr;
}

QTreeWidgetItem* Find(QTreeWidgetItem* node, const QString& key) {
  if (node->data(0, kNodeKeyRole).toString() == key) return node;
  for (int i = 0; i < node->childCount(); ++i)
    if (QTreeWidgetItem* hit = Find(node->child(i), key)) return hit;
  return nullptr;
}

// The name with every "cn=" taken out (as typed, case-sensitive).
std::string WithoutCn(std::string name) {
  for (auto at = name.find("cn="); at != std::string::npos; at = name.find("cn=", at)) name.erase(at, 3);
  return name;
}

// Adds a child whose key is the parent's key + "/" + its relative name.
QTreeWidgetItem* AddChild(QTreeWidget& tree, QTreeWidgetItem* parent, const std::string& relativeName,
                          const std::string& text, const std::string& image) {
  return AddTreeNode(tree, parent, NodeKey(parent) + "/" + relativeName, text, image);
}

}  // namespace

void BindTreeImages(QTreeWidget& tree, const ImageList* images) {
  tree.setProperty(kImagesProperty, QVariant::fromValue(static_cast<const void*>(images)));
}

QTreeWidgetItem* AddTreeNode(QTreeWidget& tree, QTreeWidgetItem* parent, const std::string& key,
                             const std::string& text, const std::string& image) {
  if (FindTreeNode(tree, key)) throw velmo::ComError(velmo::Hr(0x800A8B12), "Key is not unique in collection");
  auto* node = new QTreeWidgetItem();
  node->setText(0, QString::fromStdString(text));
  node->setData(0, kNodeKeyRole, QString::fromStdString(key));
  node->setData(0, kNodeImageRole, QString::fromStdString(image));
  if (const ImageList* images = BoundImages(tree)) node->setIcon(0, images->Item(image));
  if (parent)
    parent->addChild(node);
  else
    tree.addTopLevelItem(node);
  return node;
}

QTreeWidgetItem* AddContainerNode(QTreeWidget& tree, QTreeWidgetItem* parent, const std::string& parentKey,
                                  const std::string& childName) {
  const std::string name = WithoutCn(childName);
  return AddTreeNode(tree, parent, parentKey + "/cn=" + name, velmo::ads::NameShown(name), "Recipients");
}

bool AwaitsExpansion(const QTreeWidgetItem* node) {
  return node && node->childCount() > 0 && NodeText(node->child(0)).find("Childnodetext") != std::string::npos;
}

void ExpandContainerNode(QTreeWidget& tree, QTreeWidgetItem* node, const std::string& server,
                         const std::string& user, const std::string& password,
                         const PlaceholderKey& placeholderKey) {
  if (!AwaitsExpansion(node)) return;
  if (tree.currentItem() == node->child(0)) tree.setCurrentItem(node);
  delete node->takeChild(0);
  velmo::ui::WaitCursor hourglass;
  const std::string key = NodeKey(node);
  const std::string path = "LDAP://" + server + "/" + key;
  try {
    auto container = user.empty() ? velmo::ads::GetObject(path) : velmo::ads::OpenDSObject(path, user, password, 0);
    container->SetFilter({"Container"});
    int n = 1;
    for (const auto& child : container->Children()) {
      QTreeWidgetItem* added = AddContainerNode(tree, node, key, child->Name());
      if (placeholderKey)
        AddTreeNode(tree, added, placeholderKey(key, n), "Childnodetext" + std::to_string(n), "Recipients");
      ++n;
    }
  } catch (const std::exception&) {
    // The node keeps the children read so far.
  }
}

std::string NodeKey(const QTreeWidgetItem* node) {
  return node ? node->data(0, kNodeKeyRole).toString().toStdString() : std::string();
}

std::string NodeImage(const QTreeWidgetItem* node) {
  return node ? node->data(0, kNodeImageRole).toString().toStdString() : std::string();
}

std::string NodeText(const QTreeWidgetItem* node) { return node ? node->text(0).toStdString() : std::string(); }

QTreeWidgetItem* FindTreeNode(const QTreeWidget& tree, const std::string& key) {
  const QString qkey = QString::fromStdString(key);
  for (int i = 0; i < tree.topLevelItemCount(); ++i)
    if (QTreeWidgetItem* hit = Find(tree.topLevelItem(i), qkey)) return hit;
  return nullptr;
}

bool IsFirstTreeNode(const QTreeWidgetItem* node) {
  return node && !node->parent() && node->treeWidget() && node->treeWidget()->topLevelItem(0) == node;
}

void BuildTree(QTreeWidget& tree, short Mode, const std::string& Org, const std::string& Site,
               const std::string& Server, const std::string& User, const std::string& Password) {
  QTreeWidgetItem* org = AddTreeNode(tree, nullptr, "o=" + Org, Org, "Organization");
  org->setExpanded(true);
  tree.setCurrentItem(org);

  QTreeWidgetItem* site = AddChild(tree, org, "ou=" + Site, Site, "Site");
  site->setExpanded(true);
  QTreeWidgetItem* configuration = AddChild(tree, site, "cn=Configuration", "Configuration", "Configuration");
  configuration->setExpanded(true);
  AddChild(tree, configuration, "cn=Connections", "Connections", "Connections");
  AddChild(tree, configuration, "cn=Protocols", "Protocols", "Protocols");
  QTreeWidgetItem* servers = AddChild(tree, configuration, "cn=Servers", "Servers", "Servers");
  servers->setExpanded(true);
  QTreeWidgetItem* server = AddChild(tree, servers, "cn=" + Server, Server, "Server");
  server->setExpanded(true);
  AddChild(tree, server, "cn=Microsoft Private MDB", "Private Information Store", "PrivateIS");
  AddChild(tree, server, "cn=Protocols", "Protocols", "Protocols");
  AddChild(tree, server, "cn=Microsoft Public MDB", "Public Information Store", "PublicIS");
  AddChild(tree, server, "cn=Server Recipients", "Server Recipients", "Recipients");
  AddChild(tree, server, "cn=Microsoft MTA", "Message Transfer Agent", "MTA");
  AddChild(tree, server, "cn=Microsoft System Attendant", "System Attendant", "SA");

  if (Mode == 2) {
    AddChild(tree, site, "Recipients", "Recipients", "Recipients");
    return;
  }

  const std::string path = "LDAP://" + Server + "/ou=" + Site + ",o=" + Org;
  velmo::ads::DirObjectPtr container;
  try {
    container = User.empty() ? velmo::ads::GetObject(path) : velmo::ads::OpenDSObject(path, User, Password, 0);
  } catch (const velmo::ComError& e) {
    LogFailure("BuildTree - Getting Recipients container" + path, e);
    return;
  }
  container->SetFilter({"Container"});
  int n = 1;
  for (const auto& child : container->Children()) {
    const std::string name = child->Name();
    if (name == "cn=Configuration") continue;
    QTreeWidgetItem* node = AddContainerNode(tree, site, NodeKey(site), name);
    // Placeholder numbers go on past any already used in this tree (a
    // second server's branch in the custom report window's tree).
    while (FindTreeNode(tree, "Childnodetext" + std::to_string(n))) ++n;
    AddTreeNode(tree, node, "Childnodetext" + std::to_string(n), "Childnodetext", "Recipients");
    ++n;
  }
}

void BuildTree(short Mode, const std::string& Org, const std::string& Site, const std::string& Server,
               const std::string& User, const std::string& Password) {
  auto* window = dynamic_cast<frmExch*>(NewestExchWindow());
  if (!window) return;
  BuildTree(*window->tvwServers, Mode, Org, Site, Server, User, Password);
}
