#!/usr/bin/env python3
"""Writes the sample Exchange 5.5 organisation for slapd.

    make_sample.py                 rewrites exchange.schema, velmor.ldif and
                                   the logon-*.ldif files next to this script
    make_sample.py --large N OUT   writes OUT: the same organisation plus a
                                   recipients container "cn=Bulk" holding N
                                   mailboxes (with custom recipients and lists
                                   between them) and two smaller containers

The organisation agrees with sample/ORGANISATION.md. Every DN is written with
lower-case attribute types and no blanks after the commas.
"""
import base64
import datetime
import hashlib
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ORG = "o=Velmor"
LAKE = "ou=Lakeside," + ORG
HILL = "ou=Hilltop," + ORG
DOMAIN_SID = "S-1-5-21-1004336348-1177238915-682003330"
# The first entry was created at 15 March 1999 09:00:01 UTC, each next one a second later.
CREATED_BASE = datetime.datetime(1999, 3, 15, 9, 0, 0)

# ---------------------------------------------------------------------------
# Schema: the attributes and classes the collector reads, spelled as it reads
# them. cn, name, uid, description and userPassword are built into slapd
# (cn and name as directory strings, uid likewise) and are used as they are.

STR, INT, BOOL, BIN, DN = "str", "int", "bool", "bin", "dn"
SINGLE, MULTI = False, True

ATTRIBUTES = [
    # naming and general
    ("o", STR, SINGLE), ("ou", STR, SINGLE), ("dc", STR, SINGLE), ("rdn", STR, SINGLE),
    ("Admin-Display-Name", STR, SINGLE), ("Admin-Description", STR, SINGLE),
    ("NT-Security-Descriptor", BIN, SINGLE), ("Assoc-NT-Account", BIN, SINGLE),
    ("Obj-View-Containers", DN, SINGLE), ("Replication-Sensitivity", INT, SINGLE),
    ("Hide-From-Address-Book", BOOL, SINGLE), ("Folder-Pathname", STR, SINGLE),
    # recipients
    ("Home-MDB", DN, SINGLE), ("Home-MTA", DN, SINGLE), ("Target-Address", STR, SINGLE),
    ("givenname", STR, SINGLE), ("initials", STR, SINGLE), ("sn", STR, SINGLE),
    ("postalAddress", STR, SINGLE), ("l", STR, SINGLE), ("st", STR, SINGLE), ("postalcode", STR, SINGLE),
    ("co", STR, SINGLE), ("title", STR, SINGLE), ("company", STR, SINGLE), ("Department", STR, SINGLE),
    ("physicalDeliveryOfficeName", STR, SINGLE), ("secretary", STR, SINGLE),
    ("telephoneNumber", STR, SINGLE), ("Telephone-Office2", STR, SINGLE),
    ("facsimileTelephoneNumber", STR, SINGLE), ("Telephone-Assistant", STR, SINGLE),
    ("homephone", STR, SINGLE), ("Telephone-Home2", STR, SINGLE), ("mobile", STR, SINGLE),
    ("pager", STR, SINGLE), ("info", STR, SINGLE), ("manager", DN, SINGLE), ("reports", DN, MULTI),
    ("Protocol-Settings", STR, MULTI), ("conferenceInformation", STR, SINGLE),
    ("deliv-Cont-Length", INT, SINGLE), ("Submission-Cont-Length", INT, SINGLE),
    ("MAPI-Recipient", BOOL, SINGLE), ("DXA-Flags", INT, SINGLE), ("Garbage-Coll-Period", INT, SINGLE),
    ("MDB-Use-Defaults", BOOL, SINGLE), ("MDB-Storage-quota", INT, SINGLE),
    ("MDB-Over-quota-Limit", INT, SINGLE), ("DXA-Task", INT, SINGLE), ("OWA-Server", STR, SINGLE),
] + [("Extension-Attribute-%d" % n, STR, SINGLE) for n in range(1, 11)] + [
    ("memberOf", DN, MULTI), ("mail", STR, SINGLE), ("textencodedORaddress", STR, SINGLE),
    ("otherMailbox", STR, MULTI), ("Auth-Orig", DN, MULTI), ("UnAuth-Orig", DN, MULTI),
    ("Public-Delegates", DN, MULTI), ("Alt-Recipient", DN, SINGLE), ("Deliver-And-Redirect", BOOL, SINGLE),
    # distribution lists
    ("member", DN, MULTI), ("Owner", DN, SINGLE), ("Report-to-Owner", BOOL, SINGLE),
    ("Report-to-Originator", BOOL, SINGLE), ("OOF-Reply-to-Originator", BOOL, SINGLE),
    ("Hide-DL-Membership", BOOL, SINGLE),
    # protocols
    ("Use-Site-Values", BOOL, SINGLE), ("Enabled-Protocol-Cfg", BOOL, SINGLE), ("HTTP-Pub-GAL", BOOL, SINGLE),
    ("HTTP-Pub-GAL-Limit", INT, SINGLE), ("List-Public-Folders", BOOL, SINGLE), ("Port-Number", INT, SINGLE),
    ("Anonymous-Access", BOOL, SINGLE), ("Anonymous-Account", STR, SINGLE),
    ("Client-Access-Enabled", BOOL, SINGLE), ("Association-Lifetime", INT, SINGLE),
    ("Enabled-Authorization-Packages", STR, MULTI), ("Content-Type", INT, SINGLE),
    ("Character-Set", STR, SINGLE), ("Send-TNEF", BOOL, SINGLE), ("Support-SMIME-Signatures", BOOL, SINGLE),
    ("LDAP-Search-Cfg", INT, SINGLE), ("Outgoing-msg-size-limit", INT, SINGLE), ("Referral-List", STR, MULTI),
    ("NNTP-Newsfeeds", STR, MULTI),
    # stores, server objects, containers
    ("Home-Public-Server", DN, SINGLE), ("MTA-Local-Desig", STR, SINGLE), ("Expand-DLs-Locally", BOOL, SINGLE),
    ("Sub-Site", STR, SINGLE), ("serialNumber", STR, SINGLE),
    # connectors
    ("Computer-Name", STR, SINGLE), ("Routing-List", STR, MULTI), ("Cost", INT, SINGLE),
    ("Target-MTAs", STR, MULTI), ("Authorized-User", STR, SINGLE), ("Authorized-Domain", STR, SINGLE),
    ("Newsfeed-Type", INT, SINGLE), ("Enabled", BOOL, SINGLE), ("INSAdmin", DN, SINGLE),
    ("Usenet-Site-Name", STR, SINGLE), ("Usenet-Host-Name", STR, SINGLE), ("Inbound-Host", STR, MULTI),
    ("Connection-Type", BOOL, SINGLE), ("RAS-Account", STR, SINGLE), ("RAS-Phonebook-Entry-Name", STR, SINGLE),
    ("Require-SSL", BOOL, SINGLE), ("Inbound-DN", DN, SINGLE),
]

BUILTIN = ["cn", "name", "uid", "description"]

# (class, superior, naming attribute). None of the recipient and container
# classes derives from another, so a Filter by one never takes in another;
# Mailbox-Agent derives from organizationalPerson without listing it.
CLASSES = [
    ("organization", "top", "o"), ("organizationalUnit", "top", "ou"), ("Container", "top", "cn"),
    ("Computer", "top", "cn"), ("person", "top", "cn"), ("organizationalPerson", "person", "cn"),
    ("Remote-Address", "person", "cn"), ("Mailbox-Agent", "organizationalPerson", "cn"),
    ("groupOfNames", "top", "cn"), ("public-folder", "top", "cn"),
    ("Protocol-Cfg-HTTP-Site", "top", "cn"), ("Protocol-Cfg-IMAP-Site", "top", "cn"),
    ("Protocol-Cfg-LDAP-Site", "top", "cn"), ("Protocol-Cfg-NNTP-Site", "top", "cn"),
    ("Protocol-Cfg-POP-Site", "top", "cn"), ("Protocol-Cfg-HTTP-Server", "top", "cn"),
    ("Protocol-Cfg-IMAP-Server", "top", "cn"),
    ("Protocol-Cfg-LDAP-Server", "top", "cn"), ("Protocol-Cfg-NNTP-Server", "top", "cn"),
    ("Protocol-Cfg-POP-Server", "top", "cn"), ("MTA", "top", "cn"), ("Exchange-Admin-Service", "top", "cn"),
    ("Private-MDB", "top", "cn"), ("Public-MDB", "top", "cn"), ("Mail-Gateway", "top", "cn"),
    ("Site-Connector", "top", "cn"), ("NNTP-Newsfeed", "top", "cn"), ("Logon-Account", "top", "dc"),
]

SYNTAX = {
    STR: "EQUALITY caseIgnoreMatch SUBSTR caseIgnoreSubstringsMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.15",
    INT: "EQUALITY integerMatch ORDERING integerOrderingMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.27",
    BOOL: "EQUALITY booleanMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.7",
    BIN: "EQUALITY octetStringMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.40",
    DN: "EQUALITY distinguishedNameMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.12",
}
OID = "1.3.6.1.4.1.50941.55"


def schema_text():
    out = ["# Exchange Server 5.5 directory attributes and classes for the sample",
           "# organisation. Generated by make_sample.py; do not edit by hand.", ""]
    for i, (name, kind, multi) in enumerate(ATTRIBUTES, 1):
        out.append("attributetype ( %s.1.%d NAME '%s' %s%s )"
                   % (OID, i, name, SYNTAX[kind], "" if multi else " SINGLE-VALUE"))
    out.append("")
    names = BUILTIN + [a[0] for a in ATTRIBUTES]
    # slapd reads long definitions as continuation lines (leading blanks).
    everything = "\n    $ ".join(" $ ".join(names[i:i + 6]) for i in range(0, len(names), 6))
    for i, (name, sup, naming) in enumerate(CLASSES, 1):
        may = everything if name != "Logon-Account" else "userPassword $ cn $ description"
        out.append("objectclass ( %s.2.%d NAME '%s' SUP %s STRUCTURAL MUST %s\n  MAY ( %s ) )"
                   % (OID, i, name, sup, naming, may))
    return "\n".join(out) + "\n"


# ---------------------------------------------------------------------------
# Security identifiers and descriptors (self-relative, Windows layout)

def sid(text):
    parts = text.split("-")
    subs = [int(x) for x in parts[3:]]
    return (struct.pack("<BB", int(parts[1]), len(subs)) + int(parts[2]).to_bytes(6, "big")
            + b"".join(struct.pack("<I", s) for s in subs))


def account(rid):
    return sid("%s-%d" % (DOMAIN_SID, rid))


EVERYONE, SYSTEM, ADMINISTRATORS = sid("S-1-1-0"), sid("S-1-5-18"), sid("S-1-5-32-544")
RID = {"Administrator": 500, "Domain Admins": 512, "svc-exchange": 1105, "jsmith": 1106, "soneil": 1107,
       "mmuller": 1108, "aodegard": 1109, "pparker": 1110, "hhill": 1111, "rstone": 1112, "unresolved": 1999}

# Exchange permission masks.
SEND_AS, USER, SEARCH, ADMIN, PERM_ADMIN, CUSTOM = 0x8, 0x1A, 0x100, 0x10027, 0x100A7, 0x1B
# The Exchange "Send As" extended right, as an object type GUID.
SEND_AS_GUID = bytes.fromhex("10f1c1ab2ac0d011a6ac00c04fb630a1")


def ace(mask, who, ace_type=0, flags=0):
    if ace_type == 5:  # ACCESS_ALLOWED_OBJECT_ACE with an object type
        body = struct.pack("<II", mask, 1) + SEND_AS_GUID + who
    else:
        body = struct.pack("<I", mask) + who
    return struct.pack("<BBH", ace_type, flags, 4 + len(body)) + body


def security_descriptor(aces, dacl_present=True):
    owner, group = ADMINISTRATORS, account(RID["Domain Admins"])
    revision = 4 if any(a[0] == 5 for a in aces) else 2
    acl_body = b"".join(aces)
    acl = struct.pack("<BBHHH", revision, 0, 8 + len(acl_body), len(aces), 0) + acl_body
    control = 0x8000 | (0x0004 if dacl_present else 0)
    off_owner = 20
    off_group = off_owner + len(owner)
    off_dacl = off_group + len(group) if dacl_present else 0
    header = struct.pack("<BBHIIII", 1, 0, control, off_owner, off_group, 0, off_dacl)
    return header + owner + group + (acl if dacl_present else b"")


def admin_aces():
    return [ace(PERM_ADMIN, account(RID["Administrator"])), ace(ADMIN, account(RID["Domain Admins"])),
            ace(ADMIN, SYSTEM), ace(SEARCH, EVERYONE)]


def mailbox_sd(user, extra=()):
    return security_descriptor([ace(USER, account(RID[user]))] + admin_aces()
                               + [ace(SEND_AS, account(RID["svc-exchange"]), ace_type=5)] + list(extra))


def config_sd(extra=()):
    return security_descriptor(admin_aces() + [ace(CUSTOM, account(RID["svc-exchange"]), ace_type=5)]
                               + list(extra))


# ---------------------------------------------------------------------------
# LDIF

def needs_base64(text):
    if text == "":
        return False
    if any(ord(c) > 126 or ord(c) < 32 for c in text):
        return True
    return text[0] in " :<" or text[-1] == " "


def ldif_line(attr, value):
    if isinstance(value, bytes):
        return "%s:: %s" % (attr, base64.b64encode(value).decode())
    if needs_base64(value):
        return "%s:: %s" % (attr, base64.b64encode(value.encode("utf-8")).decode())
    return "%s: %s" % (attr, value)


class Ldif:
    def __init__(self):
        self.blocks = []
        self.stamp = 0

    def add(self, dn, classes, **attrs):
        """classes: the objectClass values in order; attrs: name=value or
        list (names with "_" stand for "-"; None values are left out)."""
        lines = [ldif_line("dn", dn)]
        for c in classes:
            lines.append(ldif_line("objectClass", c))
        for key, value in attrs.items():
            name = key.replace("_", "-")
            if value is None or value == "":
                continue  # LDAP has no empty values: an empty text is an absent attribute
            for v in value if isinstance(value, list) else [value]:
                if isinstance(v, bool):
                    v = "TRUE" if v else "FALSE"
                elif isinstance(v, int):
                    v = str(v)
                lines.append(ldif_line(name, v))
        # Fixed creation times keep the data the same from run to run.
        self.stamp += 1
        created = CREATED_BASE + datetime.timedelta(seconds=self.stamp)
        lines.append("createTimestamp: " + created.strftime("%Y%m%d%H%M%SZ"))
        self.blocks.append("\n".join(lines))

    def text(self):
        return "\n\n".join(self.blocks) + "\n"


# ---------------------------------------------------------------------------
# The organisation

def server_dn(server, site):
    return "cn=%s,cn=Servers,cn=Configuration,%s" % (server, site)


def private_mdb(server, site):
    return "cn=Microsoft Private MDB," + server_dn(server, site)


def public_mdb(server, site):
    return "cn=Microsoft Public MDB," + server_dn(server, site)


def mta(server, site):
    return "cn=Microsoft MTA," + server_dn(server, site)


LONG_NOTE = ("Recipients of the Lakeside site. This note is deliberately longer than two hundred and "
             "fifty-five characters, so that a reader that keeps short texts only would cut it: it goes "
             "on about mail routing, address book views, the retention of deleted items, the storage "
             "limits of the private information store and the people to call when something breaks.")

PROTOCOL_CLASSES = {"HTTP": "Protocol-Cfg-HTTP-Site", "IMAP4": "Protocol-Cfg-IMAP-Site",
                    "LDAP": "Protocol-Cfg-LDAP-Site", "NNTP": "Protocol-Cfg-NNTP-Site",
                    "POP3": "Protocol-Cfg-POP-Site"}


def site_protocols(l, site, name, long_limit):
    base = "cn=Protocols,cn=Configuration," + site
    l.add(base, ["Container", "top"], cn="Protocols", Admin_Display_Name="Protocols", rdn="Protocols",
          Admin_Description="Protocol defaults of the %s site" % name, Folder_Pathname="owa." + name.lower(),
          NT_Security_Descriptor=config_sd())
    l.add("cn=HTTP," + base, [PROTOCOL_CLASSES["HTTP"], "top"], cn="HTTP", rdn="HTTP",
          Admin_Display_Name="HTTP (Web) Site Settings", Admin_Description="Outlook Web Access",
          Enabled_Protocol_Cfg=True, Anonymous_Access=True, HTTP_Pub_GAL=True,
          HTTP_Pub_GAL_Limit=50 if long_limit else None, NT_Security_Descriptor=config_sd())
    l.add("cn=IMAP4," + base, [PROTOCOL_CLASSES["IMAP4"], "top"], cn="IMAP4", rdn="IMAP4",
          Admin_Display_Name="IMAP4 (Mail) Site Defaults", Enabled_Protocol_Cfg=True, Anonymous_Access=False,
          Association_Lifetime=600, Enabled_Authorization_Packages=["1\u00a7NTLM", "0\u00a7CLEARTEXT"],
          Content_Type=1, Anonymous_Account="IMAP-Guest", List_Public_Folders=True,
          Character_Set="ISO-8859-1", Send_TNEF=False, NT_Security_Descriptor=config_sd())
    l.add("cn=LDAP," + base, [PROTOCOL_CLASSES["LDAP"], "top"], cn="LDAP", rdn="LDAP",
          Admin_Display_Name="LDAP (Directory) Site Defaults", Enabled_Protocol_Cfg=True, Anonymous_Access=True,
          Association_Lifetime=0,
          Enabled_Authorization_Packages=["1\u00a7XYZ", "1\u00a7NTLM", "1\u00a7CLEARTEXT", "0\u00a7CLEARTEXTSSL"],
          Port_Number=389, LDAP_Search_Cfg=1, Outgoing_msg_size_limit=100,
          Referral_List=["ldap://ex1.velmor.example", "ldap://ex2.velmor.example", "ldap://ex10.velmor.example"]
          if long_limit else None, NT_Security_Descriptor=config_sd())
    l.add("cn=NNTP," + base, [PROTOCOL_CLASSES["NNTP"], "top"], cn="NNTP", rdn="NNTP",
          Admin_Display_Name="NNTP (News) Site Defaults", Enabled_Protocol_Cfg=True, Anonymous_Access=False,
          Association_Lifetime=10, Enabled_Authorization_Packages=["1\u00a7NTLM", "1\u00a7DPA"], Content_Type=3,
          Client_Access_Enabled=True, Support_SMIME_Signatures=False,
          NNTP_Newsfeeds=["Newsfeed (usenet.example.com)", "Newsfeed (dialup)"], NT_Security_Descriptor=config_sd())
    l.add("cn=POP3," + base, [PROTOCOL_CLASSES["POP3"], "top"], cn="POP3", rdn="POP3",
          Admin_Display_Name="POP3 (Mail) Site Defaults", Enabled_Protocol_Cfg=False, Association_Lifetime=600,
          Enabled_Authorization_Packages=["1\u00a7NTLM", "1\u00a7CLEARTEXT", "0\u00a7NTLMSSL"], Content_Type=7,
          Character_Set="UTF-8", Send_TNEF=True, NT_Security_Descriptor=config_sd())


def server_entries(l, server, site, site_name, has_public, variant):
    sdn = server_dn(server, site)
    l.add(sdn, ["Computer", "top"], cn=server, rdn=server, Admin_Display_Name=server,
          Admin_Description="Exchange server %s" % server, Sub_Site="Building A" if variant == 0 else None,
          serialNumber="Version 5.5 (Build 2653.23: Service Pack 4)", NT_Security_Descriptor=config_sd())
    pbase = "cn=Protocols," + sdn
    l.add(pbase, ["Container", "top"], cn="Protocols", rdn="Protocols", Admin_Display_Name="Protocols",
          Admin_Description="Protocols of %s" % server, Use_Site_Values=variant != 0,
          Folder_Pathname=server.lower() + ".owa", NT_Security_Descriptor=config_sd())
    for proto, cls in (("HTTP", "Protocol-Cfg-HTTP-Server"), ("IMAP4", "Protocol-Cfg-IMAP-Server"), ("LDAP", "Protocol-Cfg-LDAP-Server"),
                       ("NNTP", "Protocol-Cfg-NNTP-Server"), ("POP3", "Protocol-Cfg-POP-Server")):
        own = variant == 0 and proto == "IMAP4"
        l.add("cn=%s,%s" % (proto, pbase), [cls, "top"], cn=proto, rdn=proto,
              Admin_Display_Name="%s (%s)" % (proto, server), Admin_Description="Server settings",
              Use_Site_Values=not own, Enabled_Protocol_Cfg=True if own else None,
              Anonymous_Access=False if own else None, Association_Lifetime=1200 if own else None,
              Enabled_Authorization_Packages=["1\u00a7NTLMSSL", "1\u00a7CLEARTEXTSSL"] if own else None,
              Content_Type=4 if own else None, Anonymous_Account="IMAP-Guest" if own else None,
              List_Public_Folders=False if own else None, Character_Set="UTF-8" if own else None,
              Send_TNEF=True if own else None, NT_Security_Descriptor=config_sd())
    l.add(mta(server, site), ["MTA", "top"], cn="Microsoft MTA", rdn="Microsoft MTA",
          Admin_Display_Name="Message Transfer Agent", MTA_Local_Desig=server,
          deliv_Cont_Length=4096 if variant == 0 else None,
          Expand_DLs_Locally=True if variant == 0 else (False if variant == 1 else None),
          Admin_Description="MTA of %s" % server, NT_Security_Descriptor=config_sd())
    sa_other = (["CCMAIL$%s-SA at %s" % (server, site_name), "MS$VELMOR/%s/%sSA" % (site_name.upper(), server)]
                if variant != 1 else None)
    l.add("cn=Microsoft System Attendant," + sdn, ["Exchange-Admin-Service", "top"],
          cn="Microsoft System Attendant", rdn="Microsoft System Attendant", uid="%s-SA" % server,
          Admin_Display_Name="System Attendant", Admin_Description="System Attendant of %s" % server,
          mail="%s-SA@velmor.example" % server,
          textencodedORaddress="c=US;a= ;p=Velmor;o=%s;s=%s-SA;" % (site_name, server), otherMailbox=sa_other,
          NT_Security_Descriptor=config_sd())
    home_public = public_mdb(server, site) if has_public else public_mdb("EX1", LAKE)
    l.add(private_mdb(server, site), ["Private-MDB", "top"], cn="Microsoft Private MDB",
          rdn="Microsoft Private MDB", Admin_Display_Name="Private Information Store",
          Garbage_Coll_Period=[2592000, 43200, 604800][variant], DXA_Flags=[1, 0, 1][variant],
          MDB_Storage_quota=50000, MDB_Over_quota_Limit=75000 if variant != 2 else None,
          DXA_Task=100000 if variant != 2 else None,
          Home_Public_Server=home_public if variant != 2 else "cn=Microsoft Public MDB,cn=EX99,cn=Servers,"
                                                             "cn=Configuration," + site,
          NT_Security_Descriptor=config_sd())
    if has_public:
        l.add(public_mdb(server, site), ["Public-MDB", "top"], cn="Microsoft Public MDB",
              rdn="Microsoft Public MDB", Admin_Display_Name="Public Information Store",
              Garbage_Coll_Period=604800, DXA_Flags=0, MDB_Storage_quota=100000, MDB_Over_quota_Limit=150000,
              Home_Public_Server=public_mdb(server, site), mail="%s-PUB@velmor.example" % server,
              textencodedORaddress="c=US;a= ;p=Velmor;o=%s;s=%s-PUB;" % (site_name, server),
              otherMailbox=["CCMAIL$%s Public at %s" % (server, site_name),
                            "MS$VELMOR/%s/%sPUB" % (site_name.upper(), server)],
              NT_Security_Descriptor=config_sd())


def site_skeleton(l, site, name):
    l.add(site, ["organizationalUnit", "top"], ou=name, Admin_Display_Name=name,
          Admin_Description="Site %s" % name, NT_Security_Descriptor=config_sd())
    conf = "cn=Configuration," + site
    l.add(conf, ["Container", "top"], cn="Configuration", rdn="Configuration", Admin_Display_Name="Configuration",
          NT_Security_Descriptor=config_sd())
    l.add("cn=Servers," + conf, ["Container", "top"], cn="Servers", rdn="Servers", Admin_Display_Name="Servers",
          Admin_Description="Servers of %s" % name, NT_Security_Descriptor=config_sd())
    l.add("cn=Connections," + conf, ["Container", "top"], cn="Connections", rdn="Connections",
          Admin_Display_Name="Connections", NT_Security_Descriptor=config_sd())


MAILBOXES = {}  # alias -> DN, filled as they are written


def mailbox(out, container, alias, display, given, sn, home, site, **extra):
    dn = "cn=%s,%s" % (display.replace(",", "\\,"), container)
    MAILBOXES[alias] = dn
    attrs = dict(cn=display, uid=alias, rdn=alias, name=display, givenname=given, sn=sn,
                 Home_MDB=private_mdb(home, site) if home else None,
                 Assoc_NT_Account=account(RID[alias if alias != "admin" else "Administrator"]) if alias in RID
                 or alias == "admin" else None,
                 mail="%s@velmor.example" % alias,
                 textencodedORaddress="c=US;a= ;p=Velmor;o=%s;s=%s;g=%s;" % (site.split(",")[0][3:], sn, given),
                 Obj_View_Containers=container, company="Velmor Ltd",
                 NT_Security_Descriptor=mailbox_sd(alias if alias != "admin" else "Administrator")
                 if alias in RID or alias == "admin" else None)
    attrs.update(extra)
    out.add(dn, ["organizationalPerson", "person", "top"], **attrs)
    return dn


def build_organisation(l):
    rec_lake = "cn=Recipients," + LAKE
    rec_hill = "cn=Recipients," + HILL
    sales = "cn=Sales," + rec_lake
    europe = "cn=Europe," + sales
    restricted = "cn=Restricted," + rec_lake
    dn = lambda alias: "cn=%s,%s" % (DISPLAY[alias], HOME_CONTAINER[alias])
    DISPLAY = {"admin": "Administrator", "jsmith": "John Smith", "soneil": "Sean O'Neil",
               "mmuller": "Maria M\u00fcller", "aodegard": "\u00c5se \u00d8deg\u00e5rd", "pparker": "Peter Parker",
               "hhill": "Hanna Hill", "rstone": "Rob Stone"}
    HOME_CONTAINER = {"admin": rec_lake, "jsmith": rec_lake, "soneil": rec_lake, "pparker": rec_lake,
                      "mmuller": sales, "aodegard": europe, "hhill": rec_hill, "rstone": rec_hill}
    all_staff = "cn=All Staff," + rec_lake
    sales_team = "cn=Sales Team," + rec_lake
    empty_list = "cn=Empty List," + rec_lake

    l.add(ORG, ["organization", "top"], o="Velmor", Admin_Display_Name="Velmor",
          NT_Security_Descriptor=config_sd())

    # Hilltop first: its EX10 is enumerated before Lakeside's EX1.
    site_skeleton(l, HILL, "Hilltop")
    server_entries(l, "EX10", HILL, "Hilltop", True, 2)
    site_protocols(l, HILL, "Hilltop", False)
    hill_conn = "cn=Connections,cn=Configuration," + HILL
    l.add("cn=Site Connector (Lakeside)," + hill_conn, ["Site-Connector", "top"], cn="Site Connector (Lakeside)",
          rdn="Site Connector (Lakeside)", Admin_Display_Name="Site Connector (Lakeside)", Cost=1,
          NT_Security_Descriptor=config_sd())
    l.add("cn=Newsfeed (dialup)," + hill_conn, ["NNTP-Newsfeed", "top"], cn="Newsfeed (dialup)",
          rdn="Newsfeed (dialup)", Admin_Display_Name="Newsfeed (dialup)", Newsfeed_Type=7, Enabled=False,
          Usenet_Site_Name="dialup.example.net", Usenet_Host_Name="news.dialup.example.net",
          Inbound_Host="news.dialup.example.net", Connection_Type=False, RAS_Account="newsdial",
          RAS_Phonebook_Entry_Name="Provider", Require_SSL=True, deliv_Cont_Length=2048,
          NT_Security_Descriptor=config_sd())
    l.add(rec_hill, ["Container", "top"], cn="Recipients", rdn="Recipients", Admin_Display_Name="Recipients",
          Admin_Description="Recipients of the Hilltop site", NT_Security_Descriptor=config_sd())
    # A configuration container that is not the site's own.
    l.add("cn=Configuration," + rec_hill, ["Container", "top"], cn="Configuration", rdn="Configuration",
          Admin_Display_Name="Archived configuration", NT_Security_Descriptor=config_sd())
    l.add("cn=Archive,cn=Configuration," + rec_hill, ["Container", "top"], cn="Archive", rdn="Archive",
          Admin_Display_Name="Archive", NT_Security_Descriptor=config_sd())

    # Lakeside.
    site_skeleton(l, LAKE, "Lakeside")
    server_entries(l, "EX1", LAKE, "Lakeside", True, 0)
    server_entries(l, "EX2", LAKE, "Lakeside", False, 1)
    site_protocols(l, LAKE, "Lakeside", True)
    conn = "cn=Connections,cn=Configuration," + LAKE
    l.add("cn=Internet Mail Connector (EX1)," + conn, ["Mail-Gateway", "top"],
          cn="Internet Mail Connector (EX1)", rdn="Internet Mail Connector (EX1)",
          Admin_Display_Name="Internet Mail Connector (EX1)", Computer_Name="EX1", deliv_Cont_Length=10240,
          Routing_List=["SMTP:*;1"], Auth_Orig=[dn("jsmith"), dn("soneil"), "cn=Gone,%s" % rec_lake],
          Admin_Description="Outbound SMTP", NT_Security_Descriptor=config_sd())
    l.add("cn=MS Mail Connector (EX1)," + conn, ["Mail-Gateway", "top"], cn="MS Mail Connector (EX1)",
          rdn="MS Mail Connector (EX1)", Admin_Display_Name="MS Mail Connector (EX1)", Computer_Name="EX1",
          Routing_List=["MS:VELMOR/LEGACY/*;1", "MS:VELMOR/OLDPO/*;2"], NT_Security_Descriptor=config_sd())
    l.add("cn=Connector for cc:Mail (EX1)," + conn, ["Mail-Gateway", "top"], cn="Connector for cc:Mail (EX1)",
          rdn="Connector for cc:Mail (EX1)", Admin_Display_Name="Connector for cc:Mail (EX1)",
          Routing_List=["CCMAIL:*;1"], NT_Security_Descriptor=config_sd())
    l.add("cn=Site Connector (Hilltop)," + conn, ["Site-Connector", "top"], cn="Site Connector (Hilltop)",
          rdn="Site Connector (Hilltop)", Admin_Display_Name="Site Connector (Hilltop)", Cost=1,
          Target_MTAs=["EX10\u00a7100"],
          Routing_List=["X400:c=US;a= ;p=Velmor;o=Hilltop;1", "Local:SMTP:*;1", "Subsite:MS:VELMOR/HILL/*;3"],
          Authorized_User="svc-exchange", Authorized_Domain="CORP", Admin_Description="To Hilltop",
          NT_Security_Descriptor=config_sd())
    l.add("cn=Newsfeed (usenet.example.com)," + conn, ["NNTP-Newsfeed", "top"],
          cn="Newsfeed (usenet.example.com)", rdn="Newsfeed (usenet.example.com)",
          Admin_Display_Name="Newsfeed (usenet.example.com)", Newsfeed_Type=2, Enabled=True,
          INSAdmin=dn("jsmith"), Admin_Description="Public news", Submission_Cont_Length=1000,
          Usenet_Site_Name="usenet.example.com", Usenet_Host_Name="news.example.com",
          Inbound_Host=["news1.example.com", "news2.example.com", "news3.example.com"], Connection_Type=True,
          RAS_Account="unused", RAS_Phonebook_Entry_Name="unused", Require_SSL=False, Authorized_User="newsuser",
          Inbound_DN="cn=Former Employee," + rec_lake, NT_Security_Descriptor=config_sd())

    l.add(rec_lake, ["Container", "top"], cn="Recipients", rdn="Recipients", Admin_Display_Name="Recipients",
          Admin_Description=LONG_NOTE, NT_Security_Descriptor=config_sd())
    l.add(sales, ["Container", "top"], cn="Sales", rdn="Sales", Admin_Display_Name="Sales",
          NT_Security_Descriptor=config_sd())
    l.add(europe, ["Container", "top"], cn="Europe", rdn="Europe", Admin_Display_Name="Europe",
          NT_Security_Descriptor=config_sd())
    l.add(restricted, ["Container", "top"], cn="Restricted", rdn="Restricted", Admin_Display_Name="Restricted",
          Admin_Description="Readable by authenticated users only", NT_Security_Descriptor=config_sd())

    ex1_public = public_mdb("EX1", LAKE)
    mailbox(l, rec_lake, "admin", "Administrator", "", "Administrator", "EX1", LAKE,
            title="Administrator", DXA_Flags=0, MDB_Use_Defaults=True, memberOf=[all_staff],
            Protocol_Settings=["HTTP\u00a71\u00a71", "IMAP4\u00a71\u00a70", "POP3\u00a70\u00a71"])
    mailbox(l, rec_lake, "jsmith", "John Smith", "John", "Smith", "EX1", LAKE, initials="J",
            postalAddress="1 Harbour Road", l="Lakeside", st="LK", postalcode="1001", co="Norway",
            title="Head of Sales", Department="Sales", physicalDeliveryOfficeName="A-101",
            secretary="Peter Parker", telephoneNumber="  +47 555 0101  ", Telephone_Office2="+47 555 0102",
            facsimileTelephoneNumber="+47 555 0109", Telephone_Assistant="+47 555 0110",
            homephone="+47 555 0111", Telephone_Home2="+47 555 0112", mobile="+47 955 0101",
            pager="0101", info="Notes about John. " * 20,
            reports=[dn("soneil"), dn("mmuller"), dn("pparker")],
            Protocol_Settings=["HTTP\u00a71\u00a71", "IMAP4\u00a71\u00a70", "POP3\u00a71\u00a71"],
            Replication_Sensitivity=20, conferenceInformation="ils.velmor.example/jsmith",
            deliv_Cont_Length=2048, Submission_Cont_Length=1024, MAPI_Recipient=True,
            Hide_From_Address_Book=False, Admin_Description="Sales lead", DXA_Flags=3,
            Garbage_Coll_Period=604800, MDB_Use_Defaults=False, MDB_Storage_quota=30000,
            MDB_Over_quota_Limit=40000, DXA_Task=50000, OWA_Server="EX1",
            **{"Extension_Attribute_%d" % n: "Custom value %d" % n for n in (1, 2, 5, 10)},
            memberOf=[all_staff, sales_team], otherMailbox=["CCMAIL$Smith, John at Lakeside",
                                                            "MS$VELMOR/LAKESIDE/JSMITH", "X500$/o=Velmor/cn=jsmith"],
            Auth_Orig=[dn("soneil"), dn("mmuller"), dn("admin")], UnAuth_Orig=[dn("pparker")],
            Public_Delegates=[dn("pparker"), dn("soneil")], Alt_Recipient=dn("soneil"),
            Deliver_And_Redirect=True,
            NT_Security_Descriptor=mailbox_sd("jsmith", [ace(USER, account(RID["unresolved"]))]))
    mailbox(l, rec_lake, "soneil", "Sean O'Neil", "Sean", "O'Neil", "EX1", LAKE, title="Sales",
            manager=dn("jsmith"), DXA_Flags=5, Garbage_Coll_Period=43200, memberOf=[all_staff, sales_team],
            Alt_Recipient="cn=Former Employee," + rec_lake,
            Protocol_Settings=["LDAP\u00a71\u00a70"], Extension_Attribute_3="O'Neil's value")
    mailbox(l, rec_lake, "pparker", "Peter Parker", "Peter", "Parker", "EX2", LAKE, manager=dn("jsmith"),
            Hide_From_Address_Book=True, memberOf=[all_staff], OWA_Server="EX2")
    mailbox(l, sales, "mmuller", "Maria M\u00fcller", "Maria", "M\u00fcller", "EX1", LAKE, l="M\u00fcnchen",
            co="Deutschland", manager=dn("jsmith"), memberOf=[all_staff, sales_team],
            info="Zust\u00e4ndig f\u00fcr Gro\u00dfkunden")
    mailbox(l, europe, "aodegard", "\u00c5se \u00d8deg\u00e5rd", "\u00c5se", "\u00d8deg\u00e5rd", "EX2", LAKE,
            l="Troms\u00f8", co="Norge", memberOf=[all_staff, sales_team])

    l.add(all_staff, ["groupOfNames", "top"], cn="All Staff", uid="AllStaff", rdn="AllStaff", name="All Staff",
          Owner=dn("jsmith"), Home_MTA=mta("EX1", LAKE), info="Everyone in Velmor",
          member=[dn(a) for a in ("admin", "jsmith", "soneil", "pparker", "mmuller", "aodegard", "hhill",
                                  "rstone")],
          Replication_Sensitivity=20, deliv_Cont_Length=1024, Obj_View_Containers=rec_lake,
          Report_to_Owner=True, Report_to_Originator=False, OOF_Reply_to_Originator=True,
          Hide_From_Address_Book=False, Hide_DL_Membership=False, Admin_Description="Company-wide list",
          mail="allstaff@velmor.example", textencodedORaddress="c=US;a= ;p=Velmor;o=Lakeside;s=AllStaff;",
          NT_Security_Descriptor=config_sd())
    l.add(sales_team, ["groupOfNames", "top"], cn="Sales Team", uid="SalesTeam", rdn="SalesTeam",
          name="Sales Team", Owner=dn("mmuller"), member=[dn("mmuller"), dn("aodegard"), dn("soneil")],
          memberOf=[all_staff], Report_to_Owner=False, Report_to_Originator=True, OOF_Reply_to_Originator=False,
          Hide_DL_Membership=True, mail="sales@velmor.example",
          textencodedORaddress="c=US;a= ;p=Velmor;o=Lakeside;s=SalesTeam;", NT_Security_Descriptor=config_sd())
    l.add(empty_list, ["groupOfNames", "top"], cn="Empty List", uid="EmptyList", rdn="EmptyList")

    l.add("cn=Partner Contact," + rec_lake, ["Remote-Address", "person", "top"], cn="Partner Contact",
          uid="partner", rdn="partner", name="Partner Contact", Target_Address="SMTP:contact@partner.example",
          mail="contact@partner.example", givenname="Pat", sn="Partner", company="Partner AS",
          MAPI_Recipient=True, Assoc_NT_Account=account(RID["svc-exchange"]),
          conferenceInformation="ils.partner.example", Obj_View_Containers=rec_lake,
          NT_Security_Descriptor=security_descriptor([]))
    l.add("cn=Legacy Contact," + rec_lake, ["Remote-Address", "person", "top"], cn="Legacy Contact",
          uid="legacy", rdn="legacy", Target_Address="MS:VELMOR/LEGACY/CONTACT",
          NT_Security_Descriptor=security_descriptor([], dacl_present=False))
    l.add("cn=Directory Agent," + rec_lake, ["Mailbox-Agent", "top"], cn="Directory Agent", uid="diragent",
          rdn="diragent", Home_MDB=private_mdb("EX1", LAKE), NT_Security_Descriptor=config_sd())

    folders = [("Marketing", "\\Marketing", None), ("Support", "\\Support", None),
               ("Sales/Europe", "\\Sales/Europe", None), ("FAQ", "\\Support\\FAQ", True)]
    for name, path, hidden in folders:
        alias = name.replace("/", "")
        l.add("cn=%s,%s" % (name, rec_lake), ["public-folder", "top"], cn=name, uid=alias, rdn=alias, name=name,
              Folder_Pathname=path, Home_MDB=ex1_public, info="Folder %s" % name,
              Garbage_Coll_Period=604800 if name == "Marketing" else None,
              MDB_Use_Defaults=name != "Support", MDB_Storage_quota=5000 if name == "Support" else None,
              Replication_Sensitivity=10, Hide_From_Address_Book=hidden, Obj_View_Containers=rec_lake,
              mail="%s@velmor.example" % alias.lower(),
              textencodedORaddress="c=US;a= ;p=Velmor;o=Lakeside;s=%s;" % alias,
              Extension_Attribute_1="Folder %s" % name, NT_Security_Descriptor=config_sd())

    l.add("cn=Board Advisor," + restricted, ["Remote-Address", "person", "top"], cn="Board Advisor",
          uid="advisor", rdn="advisor", Target_Address="SMTP:advisor@board.example",
          NT_Security_Descriptor=config_sd())

    # Hilltop recipients.
    mailbox(l, rec_hill, "hhill", "Hanna Hill", "Hanna", "Hill", "EX10", HILL, title="Site manager",
            reports=[dn("rstone"), "cn=Former Employee," + rec_hill], memberOf=[all_staff],
            Protocol_Settings=["HTTP\u00a70\u00a71", "NNTP\u00a71\u00a71"])
    mailbox(l, rec_hill, "rstone", "Rob Stone", "Rob", "Stone", "EX10", HILL, manager=dn("hhill"),
            memberOf=[all_staff])
    # A mailbox object with neither home server nor account.
    mailbox(l, rec_hill, "unassigned", "Unassigned Mailbox", "", "Unassigned", None, HILL,
            Assoc_NT_Account=None, NT_Security_Descriptor=config_sd())
    l.add("cn=Projects," + rec_hill, ["public-folder", "top"], cn="Projects", uid="Projects", rdn="Projects",
          name="Projects", Folder_Pathname="\\Projects", Home_MDB=public_mdb("EX10", HILL),
          NT_Security_Descriptor=config_sd())
    l.add("cn=Kari Nordmann," + rec_hill, ["Remote-Address", "person", "top"], cn="Kari Nordmann",
          uid="knordmann", rdn="knordmann", Target_Address="X400:c=NO;a= ;p=Nordmann;s=Nordmann;g=Kari;",
          NT_Security_Descriptor=config_sd())


# ---------------------------------------------------------------------------
# Connect As accounts: small databases that hold the bind entries.

LOGONS = [("Administrator", "secret"), ("jsmith", "jsmith-pw")]


def ssha(password, salt_seed):
    salt = hashlib.sha1(salt_seed.encode()).digest()[:8]
    digest = hashlib.sha1(password.encode() + salt).digest()
    return "{SSHA}" + base64.b64encode(digest + salt).decode()


def logon_ldifs():
    """suffix -> LDIF text, one per database."""
    out = {}
    admin = Ldif()
    admin.add("cn=admin", ["Container", "top"], cn="admin")
    for name, password in LOGONS:
        own = Ldif()
        own.add("cn=%s" % name, ["Container", "top"], cn=name)
        own.add("dc=CORP,cn=%s" % name, ["Logon-Account", "top"], dc="CORP",
                userPassword=ssha(password, "dc=CORP,cn=" + name))
        out["cn=%s" % name] = own.text()
        admin.add("cn=%s,cn=admin" % name, ["Container", "top"], cn=name)
        admin.add("dc=CORP,cn=%s,cn=admin" % name, ["Logon-Account", "top"], dc="CORP",
                  userPassword=ssha(password, "dc=CORP,cn=%s,cn=admin" % name))
    out["cn=admin"] = admin.text()
    return out


# ---------------------------------------------------------------------------
# Large organisations for benchmarks

def large_mailbox(l, container, n, site):
    alias = "user%05d" % n
    l.add("cn=Bulk User %05d,%s" % (n, container), ["organizationalPerson", "person", "top"],
          cn="Bulk User %05d" % n, uid=alias, rdn=alias, name="Bulk User %05d" % n, givenname="Bulk",
          sn="User %05d" % n, Home_MDB=private_mdb(["EX1", "EX2"][n % 2], site),
          Assoc_NT_Account=account(5000 + n), mail="%s@velmor.example" % alias,
          textencodedORaddress="c=US;a= ;p=Velmor;o=Lakeside;s=%s;" % alias, telephoneNumber="+47 555 %05d" % n,
          title="Staff", Department="Department %d" % (n % 17), company="Velmor Ltd",
          Protocol_Settings=["HTTP\u00a71\u00a71", "IMAP4\u00a71\u00a70"], MDB_Use_Defaults=True,
          Obj_View_Containers=container, NT_Security_Descriptor=mailbox_sd("jsmith"))


def build_large(l, count):
    build_organisation(l)
    rec_lake = "cn=Recipients," + LAKE
    bulk = "cn=Bulk," + rec_lake
    l.add(bulk, ["Container", "top"], cn="Bulk", rdn="Bulk", Admin_Display_Name="Bulk",
          NT_Security_Descriptor=config_sd())
    for n in range(1, count + 1):
        large_mailbox(l, bulk, n, LAKE)
        if n % 20 == 0:  # custom recipients and lists between the mailboxes
            l.add("cn=Bulk Contact %05d,%s" % (n, bulk), ["Remote-Address", "person", "top"],
                  cn="Bulk Contact %05d" % n, uid="contact%05d" % n, Target_Address="SMTP:c%05d@ext.example" % n)
        if n % 200 == 0:
            l.add("cn=Bulk List %05d,%s" % (n, bulk), ["groupOfNames", "top"], cn="Bulk List %05d" % n,
                  uid="list%05d" % n, member=["cn=Bulk User %05d,%s" % (n, bulk)])
    for side in ("East", "West"):
        container = "cn=Bulk %s,%s" % (side, rec_lake)
        l.add(container, ["Container", "top"], cn="Bulk %s" % side, rdn="Bulk%s" % side,
              NT_Security_Descriptor=config_sd())
        for n in range(1, count // 10 + 1):
            large_mailbox(l, container, n if side == "East" else n + count, LAKE)


def main(argv):
    if len(argv) == 4 and argv[1] == "--large":
        l = Ldif()
        build_large(l, int(argv[2]))
        with open(argv[3], "w", encoding="utf-8") as f:
            f.write(l.text())
        return 0
    if len(argv) != 1:
        sys.stderr.write(__doc__)
        return 2
    with open(os.path.join(HERE, "exchange.schema"), "w", encoding="utf-8") as f:
        f.write(schema_text())
    l = Ldif()
    build_organisation(l)
    with open(os.path.join(HERE, "velmor.ldif"), "w", encoding="utf-8") as f:
        f.write(l.text())
    for suffix, text in logon_ldifs().items():
        name = suffix.split("=", 1)[1].lower()
        with open(os.path.join(HERE, "logon-%s.ldif" % name), "w", encoding="utf-8") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
