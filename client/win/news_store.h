// The news files in the common application-data folder, through the MSXML 3.0 DOM
// ("MSXML2.DOMDocument.3.0", XPath selection): the configuration "NewsConfig.xml" and the
// database "NewsDB.bns". Every save writes a file beside the target and then replaces the target,
// so that a failure or a crash in the middle of a save leaves the old file whole.
// The calling thread must have initialised COM.
#pragma once
#include <windows.h>

#include <string>

#include "news_model.h"

struct IXMLDOMDocument2;
struct IXMLDOMNode;

namespace client {

// One DOM document: created empty (async off, XPath selection), loaded from a file or a text.
class CNewsXml {
 public:
  CNewsXml();
  ~CNewsXml();
  CNewsXml(const CNewsXml &) = delete;
  CNewsXml &operator=(const CNewsXml &) = delete;

  bool Valid() const { return doc_ != nullptr; }
  bool LoadFile(const std::wstring &path);
  bool LoadText(const std::wstring &xml);
  // The text of the first node the path selects; false when none.
  bool Text(const wchar_t *xpath, std::wstring &text) const;
  bool SetText(const wchar_t *xpath, const std::wstring &text);
  // Builds a new document: the "xml" declaration (UTF-8) and an empty root element.
  bool Create(const wchar_t *rootName);
  // Appends <name>text</name> to the first node the path selects (or to a node of ours).
  IXMLDOMNode *AppendElement(const wchar_t *parentPath, const wchar_t *name, const std::wstring &text = L"");
  bool AppendElement(IXMLDOMNode *parent, const wchar_t *name, const std::wstring &text);
  // Writes path + ".new" and moves it over path.
  bool SaveReplacing(const std::wstring &path) const;
  IXMLDOMDocument2 *Doc() const { return doc_; }

 private:
  IXMLDOMDocument2 *doc_ = nullptr;
};

// "<common application data>\ORVToken", created if missing; empty when the folder is unknown.
std::wstring NewsFolder();
std::wstring NewsConfigPath();
std::wstring NewsDbPath();

// Makes sure the configuration file exists: creates it empty and copies into it the
// "NewsConfig.xml" beside the program when there is one (a failed copy deletes the new file).
void EnsureNewsConfigFile(const std::wstring &path);
// Reads the configuration into s; false (s unchanged) when it cannot be loaded.
bool LoadNewsConfig(const std::wstring &path, NewsSettings &s);
// Writes the delivered keys into the configuration; builds a whole default file from s when
// the file cannot be loaded.
bool SaveNewsIds(const std::wstring &path, const NewsSettings &s, const std::wstring &serverIp);
// Writes every setting (the settings dialog): into the loaded file, or a file built anew.
bool SaveNewsConfig(const std::wstring &path, const NewsSettings &s, const std::wstring &serverIp);

// The database: items of "/NewsClient/News" (child elements Title, Link, ClassName, Date,
// State, Pic, Content). False when the file cannot be loaded (db is then empty).
bool LoadNewsDb(const std::wstring &path, CNewsDatabase &db);
bool SaveNewsDb(const std::wstring &path, const CNewsDatabase &db);

}  // namespace client
