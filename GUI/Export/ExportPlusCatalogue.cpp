// The Export Plus category catalogue.
#include "ExportPlusCatalogue.h"

#include <QLabel>
#include <QTreeWidget>

#include <initializer_list>

#include "FlexGrid.h"
#include "Mdifrm.h"
#include "modExchTree.h"

namespace {

using Pages = std::initializer_list<const char*>;

const Pages kRecipientPages = {"Summary",       "General",           "Organization",          "Phone/Notes",
                               "Permissions",   "Distribution Lists", "E-Mail Addresses",     "Delivery Restrictions",
                               "Delivery Options", "Protocols",     "Custom Attributes",     "Limits",
                               "Advanced"};
const Pages kImap4Pages = {"General", "Permissions", "Authentication", "Anonymous", "Message Format", "Idle Time-out"};
const Pages kLdapPages = {"General", "Permissions", "Authentication", "Anonymous", "Search", "Referrals",
                          "Idle Time-out"};
const Pages kNntpPages = {"General",        "Permissions",   "Newsfeeds", "Authentication",
                          "Message Format", "Idle Time-out", "Anonymous"};
const Pages kPop3Pages = {"General", "Permissions", "Authentication", "Message Format", "Idle Time-out"};
const Pages kGeneralPermissions = {"General", "Permissions"};

// One group of a kind (or the whole of a flat kind, group ""). A page
// caption ending in " *" is a profile category: unticked at first, keyed
// without the marker. keyPrefix nullptr: the pages carry no key.
struct Section {
  int kind;
  const char* group;  // "" for a flat kind
  const char* image;
  const char* keyPrefix;
  Pages pages;
};

const Section kCatalogue[] = {
    {0, "Summary", "Recipients", nullptr, kGeneralPermissions},
    {0, "Mailboxes", "MB", "Mailboxes", kRecipientPages},
    {0, "Distribution Lists", "DL", "Distribution Lists",
     {"General", "Permissions", "Distribution Lists", "E-Mail Addresses", "Delivery Restrictions", "Custom Attributes",
      "Advanced"}},
    {0, "Public Folders", "PF", "Public Folders",
     {"General *", "Permissions", "Distribution Lists", "E-Mail Addresses", "Custom Attributes", "Limits", "Advanced"}},
    {0, "Custom Recipients", "CR", "Custom Recipients", kRecipientPages},
    {1, "Summary", "Protocols", "Protocols", kGeneralPermissions},
    {1, "HTTP", "Protocols", "HTTP", {"General", "Permissions", "Folder Shortcuts", "Advanced"}},
    {1, "IMAP4", "Protocols", "IMAP4", kImap4Pages},
    {1, "LDAP", "Protocols", "LDAP", kLdapPages},
    {1, "NNTP", "Protocols", "NNTP", kNntpPages},
    {1, "POP3", "Protocols", "POP3", kPop3Pages},
    {3, "Summary", "Connections", "Container2", kGeneralPermissions},
    {3, "Internet Mail Connector", "Connector", "Internet Mail Connector",
     {"General", "Permissions", "Connected Sites", "Address Space", "Delivery Restrictions", "Diagnostics Logging"}},
    {3, "MS Mail Connector", "Connector", "MS Mail Connector",
     {"General", "Address Space", "Diagnostics Logging", "Interchange"}},
    {3, "Site Connector", "SiteConnector", "Site Connector",
     {"General", "Permissions", "Target Servers", "Address Space", "Override"}},
    {3, "Newsfeed", "Newsfeed", "Newsfeed", {"General", "Messages", "Hosts", "Connection", "Security"}},
    {4, "", "", "Private Information Store", {"General", "Permissions", "Mailbox Resources *", "Diagnostics Logging"}},
    {5, "Summary", "Protocols", "ServerProtocols", kGeneralPermissions},
    {5, "IMAP4", "Protocols", "ServerIMAP4", kImap4Pages},
    {5, "LDAP", "Protocols", "ServerLDAP", kLdapPages},
    {5, "NNTP", "Protocols", "ServerNNTP", kNntpPages},
    {5, "POP3", "Protocols", "ServerPOP3", kPop3Pages},
    {6, "", "", "Public Information Store",
     {"General", "Instances", "Permissions", "E-Mail Addresses", "Diagnostics Logging", "Public Folder Resources *"}},
    {7, "", "", "Mailboxes", kRecipientPages},
    {8, "", "", "Message Transfer Agent", {"General", "Permissions", "Diagnostics Logging"}},
    {9, "", "", "System Attendant", {"General", "Permissions", "E-Mail Addresses"}},
    {10, "", "", "Container1", kGeneralPermissions},
    {11, "", "", "Container2", kGeneralPermissions},
    {12, "", "", "Server", kGeneralPermissions},
};

}  // namespace

std::vector<CatalogueNode> CatalogueFor(int kind) {
  std::vector<CatalogueNode> nodes;
  for (const Section& s : kCatalogue) {
    if (s.kind != kind) continue;
    int parent = -1;
    if (*s.group) {
      CatalogueNode g;
      g.group = true;
      g.text = s.group;
      g.image = s.image;
      if (kind == 1 && g.text == "Summary") g.selectedImage = "Protocols";
      parent = static_cast<int>(nodes.size());
      nodes.push_back(std::move(g));
    }
    for (const char* page : s.pages) {
      CatalogueNode c;
      c.text = page;
      std::string caption = page;
      const bool profile = caption.size() > 2 && caption.compare(caption.size() - 2, 2, " *") == 0;
      if (profile) caption.resize(caption.size() - 2);
      if (s.keyPrefix) c.key = std::string(s.keyPrefix) + caption;
      c.image = profile ? "Uncheck" : "Check";
      c.parent = parent;
      nodes.push_back(std::move(c));
    }
  }
  return nodes;
}

bool CatalogueNeedsProfile(int kind) { return kind == 0 || kind == 4 || kind == 6; }

std::string FieldImage(const QTreeWidgetItem* node) { return NodeImage(node); }

void SetFieldImage(QTreeWidgetItem* node, const std::string& image, const ImageList* images) {
  if (!node) return;
  node->setData(0, kNodeImageRole, QString::fromStdString(image));
  if (images) node->setIcon(0, images->Item(image));
}

void FillFieldTree(QTreeWidget& tvwFields, const QTreeWidget& tvwObjects, QLabel& lblProfileInfo, int kind,
                   const ImageList* images) {
  tvwFields.clear();
  lblProfileInfo.hide();
  tvwFields.resize(tvwFields.width(), tvwObjects.height());
  if (kind < 0 || kind > 12) return;

  const std::vector<CatalogueNode> nodes = CatalogueFor(kind);
  std::vector<QTreeWidgetItem*> made;
  made.reserve(nodes.size());
  for (const CatalogueNode& n : nodes) {
    QTreeWidgetItem* parent = n.parent >= 0 ? made[static_cast<size_t>(n.parent)] : nullptr;
    // Group nodes and kind 0's Summary pages have no key; the tree keeps
    // an empty key for them, which FindTreeNode never looks for.
    QTreeWidgetItem* item = new QTreeWidgetItem(QStringList(QString::fromStdString(n.text)));
    item->setData(0, kNodeKeyRole, QString::fromStdString(n.key));
    if (parent)
      parent->addChild(item);
    else
      tvwFields.addTopLevelItem(item);
    SetFieldImage(item, n.image, images);
    made.push_back(item);
  }
  if (CatalogueNeedsProfile(kind)) {
    lblProfileInfo.setText(kProfileHint);
    lblProfileInfo.show();
    tvwFields.resize(tvwFields.width(),
                     tvwObjects.height() - lblProfileInfo.height() - 100 / velmo::kTwipsPerPixel);
  }
}
