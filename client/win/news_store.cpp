#include "news_store.h"

#include <msxml2.h>
#include <shlobj.h>

#include <vector>

namespace client {

namespace {

// MinGW's import libraries lack this interface identifier.
const IID kIidXmlDocument2 = {0x2933BF95, 0x7B36, 0x11d2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// A BSTR for the length of one call.
class CBstr {
 public:
  explicit CBstr(const std::wstring &s) : b_(SysAllocStringLen(s.data(), UINT(s.size()))) {}
  explicit CBstr(const wchar_t *s) : b_(SysAllocString(s)) {}
  ~CBstr() { SysFreeString(b_); }
  CBstr(const CBstr &) = delete;
  CBstr &operator=(const CBstr &) = delete;
  operator BSTR() const { return b_; }

 private:
  BSTR b_;
};

template <class I>
struct CRef {
  I *p = nullptr;
  ~CRef() {
    if (p) p->Release();
  }
  I **operator&() { return &p; }
  I *operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

std::wstring NodeText(IXMLDOMNode *node) {
  BSTR b = nullptr;
  std::wstring t;
  if (SUCCEEDED(node->get_text(&b)) && b) t.assign(b, SysStringLen(b));
  SysFreeString(b);
  return t;
}

// The text of the child element `name` of node (empty when missing).
std::wstring ChildText(IXMLDOMNode *node, const wchar_t *name) {
  CRef<IXMLDOMNode> child;
  if (node->selectSingleNode(CBstr(name), &child) != S_OK || !child) return L"";
  return NodeText(child.p);
}

}  // namespace

// ---- document ----------------------------------------------------------------------------

CNewsXml::CNewsXml() {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"MSXML2.DOMDocument.3.0", &clsid))) return;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, kIidXmlDocument2, reinterpret_cast<void **>(&doc_)))) {
    doc_ = nullptr;
    return;
  }
  doc_->put_async(VARIANT_FALSE);
  // No document type processing: the files are ours, but a copied file might carry one.
  doc_->put_resolveExternals(VARIANT_FALSE);
  doc_->put_validateOnParse(VARIANT_FALSE);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(L"XPath");
  doc_->setProperty(CBstr(L"SelectionLanguage"), v);
  VariantClear(&v);
}

CNewsXml::~CNewsXml() {
  if (doc_) doc_->Release();
}

bool CNewsXml::LoadFile(const std::wstring &path) {
  if (!doc_) return false;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(path.c_str());
  VARIANT_BOOL ok = VARIANT_FALSE;
  const HRESULT hr = doc_->load(v, &ok);
  VariantClear(&v);
  return hr == S_OK && ok == VARIANT_TRUE;
}

bool CNewsXml::LoadText(const std::wstring &xml) {
  if (!doc_) return false;
  VARIANT_BOOL ok = VARIANT_FALSE;
  return doc_->loadXML(CBstr(xml), &ok) == S_OK && ok == VARIANT_TRUE;
}

bool CNewsXml::Text(const wchar_t *xpath, std::wstring &text) const {
  if (!doc_) return false;
  CRef<IXMLDOMNode> node;
  if (doc_->selectSingleNode(CBstr(xpath), &node) != S_OK || !node) return false;
  text = NodeText(node.p);
  return true;
}

bool CNewsXml::SetText(const wchar_t *xpath, const std::wstring &text) {
  if (!doc_) return false;
  CRef<IXMLDOMNode> node;
  if (doc_->selectSingleNode(CBstr(xpath), &node) != S_OK || !node) return false;
  return SUCCEEDED(node->put_text(CBstr(text)));
}

bool CNewsXml::Create(const wchar_t *rootName) {
  if (!doc_) return false;
  VARIANT_BOOL ok;
  doc_->loadXML(CBstr(L""), &ok);  // drops whatever was loaded
  CRef<IXMLDOMProcessingInstruction> pi;
  if (FAILED(doc_->createProcessingInstruction(CBstr(L"xml"), CBstr(L"version=\"1.0\" encoding=\"utf-8\""), &pi)))
    return false;
  CRef<IXMLDOMNode> out1, out2;
  if (FAILED(doc_->appendChild(pi.p, &out1))) return false;
  CRef<IXMLDOMElement> root;
  if (FAILED(doc_->createElement(CBstr(rootName), &root))) return false;
  return SUCCEEDED(doc_->appendChild(root.p, &out2));
}

bool CNewsXml::AppendElement(IXMLDOMNode *parent, const wchar_t *name, const std::wstring &text) {
  CRef<IXMLDOMElement> e;
  if (FAILED(doc_->createElement(CBstr(name), &e))) return false;
  if (!text.empty() && FAILED(e->put_text(CBstr(text)))) return false;
  CRef<IXMLDOMNode> out;
  return SUCCEEDED(parent->appendChild(e.p, &out));
}

IXMLDOMNode *CNewsXml::AppendElement(const wchar_t *parentPath, const wchar_t *name, const std::wstring &text) {
  if (!doc_) return nullptr;
  CRef<IXMLDOMNode> parent;
  if (doc_->selectSingleNode(CBstr(parentPath), &parent) != S_OK || !parent) return nullptr;
  CRef<IXMLDOMElement> e;
  if (FAILED(doc_->createElement(CBstr(name), &e))) return nullptr;
  if (!text.empty() && FAILED(e->put_text(CBstr(text)))) return nullptr;
  IXMLDOMNode *added = nullptr;
  if (FAILED(parent->appendChild(e.p, &added))) return nullptr;
  return added;
}

bool CNewsXml::SaveReplacing(const std::wstring &path) const {
  if (!doc_) return false;
  const std::wstring aside = path + L".new";
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(aside.c_str());
  const HRESULT hr = doc_->save(v);
  VariantClear(&v);
  if (FAILED(hr)) {
    DeleteFileW(aside.c_str());
    return false;
  }
  if (!MoveFileExW(aside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(aside.c_str());
    return false;
  }
  return true;
}

// ---- paths -------------------------------------------------------------------------------

std::wstring NewsFolder() {
  wchar_t base[MAX_PATH] = {0};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base))) return L"";
  std::wstring folder = std::wstring(base) + L"\\ORVToken";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::wstring NewsConfigPath() { return NewsFolder() + L"\\NewsConfig.xml"; }
std::wstring NewsDbPath() { return NewsFolder() + L"\\NewsDB.bns"; }

// ---- configuration -----------------------------------------------------------------------

void EnsureNewsConfigFile(const std::wstring &path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return;
  HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return;
  wchar_t exe[MAX_PATH] = {0};
  const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring source = (n > 0 && n < MAX_PATH) ? std::wstring(exe, n) : L"";
  const size_t slash = source.rfind(L'\\');
  source = slash == std::wstring::npos ? L"" : source.substr(0, slash + 1) + L"NewsConfig.xml";
  HANDLE in = source.empty() ? INVALID_HANDLE_VALUE
                             : CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  bool failed = false;
  if (in != INVALID_HANDLE_VALUE) {
    char buf[1024];
    DWORD got = 0;
    while (true) {
      if (!ReadFile(in, buf, sizeof buf, &got, nullptr)) {
        failed = true;
        break;
      }
      if (got == 0) break;
      DWORD put = 0;
      if (!WriteFile(out, buf, got, &put, nullptr) || put != got) {
        failed = true;
        break;
      }
    }
    CloseHandle(in);
  }
  CloseHandle(out);
  if (failed) DeleteFileW(path.c_str());
}

bool LoadNewsConfig(const std::wstring &path, NewsSettings &s) {
  EnsureNewsConfigFile(path);
  CNewsXml xml;
  if (!xml.LoadFile(path)) return false;
  ReadNewsSettings(s, [&](const wchar_t *p, std::wstring &t) { return xml.Text(p, t); });
  return true;
}

namespace {

// The whole configuration document built from the settings.
bool BuildConfig(CNewsXml &xml, const NewsSettings &s, const std::wstring &serverIp) {
  const std::vector<std::wstring> t = NewsSettingsTexts(s);
  if (!xml.Create(L"NewsConfig")) return false;
  bool ok = true;
  auto group = [&](const wchar_t *name) {
    IXMLDOMNode *g = xml.AppendElement(L"/NewsConfig", name);
    ok = ok && g;
    return g;
  };
  if (IXMLDOMNode *server = group(L"Server")) {
    ok = ok && xml.AppendElement(server, L"Enable", t[0]) && xml.AppendElement(server, L"IP", serverIp);
    server->Release();
  }
  if (IXMLDOMNode *news = group(L"News")) {
    ok = ok && xml.AppendElement(news, L"Refresh", t[1]) && xml.AppendElement(news, L"Back", t[2]) &&
         xml.AppendElement(news, L"Time", t[3]);
    news->Release();
  }
  if (IXMLDOMNode *proxy = group(L"Proxy")) {
    ok = ok && xml.AppendElement(proxy, L"IP", t[4]) && xml.AppendElement(proxy, L"Port", t[5]);
    proxy->Release();
  }
  if (IXMLDOMNode *ids = group(L"IDS")) {
    ok = ok && SUCCEEDED(ids->put_text(CBstr(t[6])));
    ids->Release();
  }
  return ok;
}

}  // namespace

bool SaveNewsIds(const std::wstring &path, const NewsSettings &s, const std::wstring &serverIp) {
  CNewsXml xml;
  if (xml.LoadFile(path)) {
    if (!xml.SetText(L"/NewsConfig/IDS", s.deliveredKeys)) return false;
    return xml.SaveReplacing(path);
  }
  return BuildConfig(xml, s, serverIp) && xml.SaveReplacing(path);
}

bool SaveNewsConfig(const std::wstring &path, const NewsSettings &s, const std::wstring &serverIp) {
  CNewsXml xml;
  if (xml.LoadFile(path)) {
    const std::vector<std::wstring> t = NewsSettingsTexts(s);
    bool ok = xml.SetText(L"/NewsConfig/Server/Enable", t[0]) && xml.SetText(L"/NewsConfig/Server/IP", serverIp);
    for (size_t k = 1; ok && k < 7; ++k) ok = xml.SetText(kNewsConfigPaths[k], t[k]);
    if (ok) return xml.SaveReplacing(path);
    // A file that lacks an element is written anew from the values.
  }
  return BuildConfig(xml, s, serverIp) && xml.SaveReplacing(path);
}

// ---- database ----------------------------------------------------------------------------

bool LoadNewsDb(const std::wstring &path, CNewsDatabase &db) {
  db.Assign({});
  CNewsXml xml;
  if (!xml.LoadFile(path)) return false;
  CRef<IXMLDOMNodeList> list;
  if (xml.Doc()->selectNodes(CBstr(L"/NewsClient/News"), &list) != S_OK || !list) return true;
  LONG n = 0;
  list->get_length(&n);
  std::vector<NewsItem> items;
  for (LONG i = 0; i < n; ++i) {
    CRef<IXMLDOMNode> node;
    if (list->get_item(i, &node) != S_OK || !node) break;
    items.push_back(NewsItem{ChildText(node.p, L"Title"), ChildText(node.p, L"Link"),
                             ChildText(node.p, L"ClassName"), ChildText(node.p, L"Date"),
                             ChildText(node.p, L"State"), ChildText(node.p, L"Pic"),
                             ChildText(node.p, L"Content")});
  }
  db.Assign(std::move(items));
  return true;
}

bool SaveNewsDb(const std::wstring &path, const CNewsDatabase &db) {
  CNewsXml xml;
  if (!xml.Create(L"NewsClient")) return false;
  for (const NewsItem &i : db.Items()) {
    IXMLDOMNode *news = xml.AppendElement(L"/NewsClient", L"News");
    if (!news) return false;
    const bool ok = xml.AppendElement(news, L"Title", i.title) && xml.AppendElement(news, L"Link", i.link) &&
                    xml.AppendElement(news, L"ClassName", i.className) &&
                    xml.AppendElement(news, L"Date", i.date) && xml.AppendElement(news, L"State", i.state) &&
                    xml.AppendElement(news, L"Pic", i.pic) && xml.AppendElement(news, L"Content", i.content);
    news->Release();
    if (!ok) return false;
  }
  return xml.SaveReplacing(path);
}

}  // namespace client
