/*
 * The WikiMatching method: wiki markup in a chunk's text, a title between
 * two delimiters, becomes a link to the document of that title, a URL link,
 * or a hotspot that composes a new document with the title. Links and
 * hotspots an earlier run made are turned back into markup first, so every
 * run resolves all markup anew and gives the same body.
 */
#include <string.h>
#include <strings.h>

#include <memory>
#include <string>
#include <string_view>

#include "chunk/link_matching.h"
#include "chunk/method_support.h"
#include "engine/driver.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/messages.h"
#include "store/note_access.h"
#include "store/session.h"
#include "store/view_selection.h"
#include "store/vocabulary.h"
#include "velko/property_string.h"

namespace {

constexpr size_t kMaxTag = 31;
constexpr WORD kTextRoom = 1025;
constexpr WORD kFormRoom = 257;
constexpr char kWikiClass[] = "WikiLink";
/* Every markup, the undo loops included, ends after this many steps: a
 * sub-chunk that stops moving on cannot hold the method. */
constexpr int kMaxSteps = 65535;

/* What a run works with, read from the arguments and options. */
struct wiki_options {
  std::string tag;
  char open[3] = {};
  char close[3] = {};
  bool resolve = true;
  std::string form;
};

wiki_options ReadOptions(const char* options, VelkoRTItem* item) {
  wiki_options read;
  char value[512] = {};
  if (ExtractProperty(options, "Tag=", value, sizeof value)) {
    std::string tag = value;
    if (!tag.empty() && tag.back() == ':')
      tag.pop_back();
    if (!tag.empty() && tag.size() <= kMaxTag)
      read.tag = tag;
  }
  ReadWikiDelimiters(options, read.open, read.close);
  value[0] = '\0';
  if (ExtractProperty(options, "ResolveTags=", value, sizeof value))
    read.resolve = strcasecmp(value, "yes") == 0;
  value[0] = '\0';
  if (ExtractProperty(options, "Form=", value, sizeof value) && value[0] != '\0') {
    read.form = value;
  } else if (!read.tag.empty()) {
    read.form = read.tag;
  } else {
    char form[kFormRoom] = {};
    const WORD length = item->note != NULLHANDLE
                            ? NSFItemGetText(item->note, "Form", form, sizeof form)
                            : 0;
    read.form = length > 0 ? std::string(form, length) : "Document";
  }
  return read;
}

/* The class of an earlier wiki hotspot (hyperlinks: also a URL class). */
bool IsWikiClass(std::string_view value, const std::string& tag, bool link) {
  if (value.size() < sizeof kWikiClass - 1 ||
      strncasecmp(value.data(), kWikiClass, sizeof kWikiClass - 1) != 0)
    return false;
  const std::string_view rest = value.substr(sizeof kWikiClass - 1);
  if (!tag.empty())
    return rest.size() == tag.size() && strncasecmp(rest.data(), tag.data(), tag.size()) == 0;
  if (!link)
    return rest.empty();
  for (const char* kind : {"", "google", "http", "https", "tarno", "file"})
    if (rest.size() == strlen(kind) && strncasecmp(rest.data(), kind, rest.size()) == 0)
      return true;
  return false;
}

/* The markup an earlier link or hotspot stands for. */
std::string RebuildMarkup(const wiki_options& options, const std::string& text,
                          const std::string& title) {
  std::string markup = options.open;
  if (!options.tag.empty())
    markup += options.tag + ":";
  if (title.empty() || title == text) {
    markup += text;
  } else {
    markup += title;
    const std::string page = title.substr(0, title.find('#'));
    if (!page.empty() && page != text)
      markup += "|" + text;
  }
  return markup + options.close;
}

/* Turns the wiki hotspots (or links) of the sub-chunk back into markup. */
STATUS UndoEarlierRuns(VelkoRTChunk& chunk, const wiki_options& options, const char* definition,
                       bool links) {
  std::unique_ptr<VelkoRTChunk> sub(chunk.DefineSubChunk(definition));
  if (sub == nullptr)
    return NOERROR;
  for (int step = 0; step < kMaxSteps && sub->Exists() != 0; ++step) {
    const std::string kind = sub->GetHTMLValue("Class", nullptr);
    if (sub->status != NOERROR)
      return sub->status;
    if (!IsWikiClass(kind, options.tag, links)) {
      if (sub->GetNextTarget() == 0)
        break;
      continue;
    }
    char text[kTextRoom] = {};
    sub->GetPropertyText("Text", text, sizeof text);
    const std::string title = sub->GetHTMLValue("Title", nullptr);
    if (sub->status != NOERROR)
      return sub->status;
    const std::string markup = RebuildMarkup(options, text, title);
    sub->SetPropertyText("Text", markup.c_str(), static_cast<WORD>(markup.size()));
    if (sub->status != NOERROR)
      return sub->status;
    if (STATUS status = links ? sub->RemoveLinks(1) : sub->RemoveHotspots(); status != NOERROR)
      return status;
  }
  return NOERROR;
}

/* Underlines every markup, so that each stands as a text run of its own. */
STATUS MarkMarkups(VelkoRTChunk& chunk, const wiki_options& options) {
  char font[] = "-Underline Black";
  char* previous = chunk.item->HighlightFont;
  chunk.item->HighlightFont = font;
  chunk.TextWildcards = 1;
  const std::string pattern = std::string(options.open) + "*" + options.close;
  const STATUS status = chunk.HighlightText(pattern.c_str(), 5);
  chunk.item->HighlightFont = previous;
  return status;
}

/* A double-quoted formula literal: backslashes and quotes escaped. */
std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"')
      quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

/* The formula of a new-document hotspot for the title. */
std::string ComposeFormula(const char* server, const char* path, const std::string& form,
                           std::string_view title) {
  std::string formula = "@Command([Compose]; ";
  if (server != nullptr && server[0] == '@')
    formula += server;
  else
    formula += Quoted(server != nullptr ? server : "") + ":" + Quoted(path);
  formula += "; " + Quoted(form) + "); ";
  formula += "@Command([EditGoToField]; \"Subject\"); ";
  formula += "@Command([EditInsertText]; " + Quoted(title) + ");";
  return formula;
}

/* The markup's inner text when the run is a markup of this call. */
bool MarkupInner(const std::string& text, const wiki_options& options, std::string* inner) {
  const size_t edges = 4;
  if (text.size() <= edges || text.compare(0, 2, options.open) != 0 ||
      text.compare(text.size() - 2, 2, options.close) != 0)
    return false;
  *inner = text.substr(2, text.size() - edges);
  if (options.tag.empty())
    return true;
  if (inner->size() <= options.tag.size() ||
      strncasecmp(inner->c_str(), options.tag.c_str(), options.tag.size()) != 0 ||
      (*inner)[options.tag.size()] != ':')
    return false;
  inner->erase(0, options.tag.size() + 1);
  return true;
}

/* A hotspot composing a new document for every markup still standing. */
STATUS AddComposeHotspots(VelkoRTChunk& chunk, const wiki_options& options, const char* server,
                          const char* path) {
  const std::string opening(options.open);
  const char quote = ChooseDelimiter(opening.data(), opening.size());
  const std::string definition = std::string("Text starts ") + quote + opening + quote + " 1";
  std::unique_ptr<VelkoRTChunk> sub(chunk.DefineSubChunk(definition.c_str()));
  if (sub == nullptr)
    return NOERROR;
  for (int step = 0; step < kMaxSteps && sub->Exists() != 0; ++step) {
    char text[kTextRoom] = {};
    const WORD length = sub->GetPropertyText("Text", text, sizeof text);
    std::string inner;
    if (sub->GetPropertyNumber("InsideHotspot") != 0 ||
        !MarkupInner(std::string(text, length), options, &inner)) {
      if (sub->GetNextTarget() == 0)
        break;
      continue;
    }
    const std::string_view whole(inner);
    const size_t bar = whole.find('|');
    const std::string_view titlePart = whole.substr(0, bar);
    const size_t hash = titlePart.rfind('#');
    const std::string_view title = titlePart.substr(0, hash);
    std::string_view display = title;
    if (bar != std::string_view::npos) {
      display = whole.substr(bar + 1);
      while (display.size() > 1 && display.back() == options.close[0])
        display.remove_suffix(1);
    }
    const std::string formula = ComposeFormula(server, path, options.form, title);
    std::string properties = "HotspotHTMLClass='" + std::string(kWikiClass) + options.tag + "' ";
    const char titleQuote = ChooseDelimiter(titlePart.data(), titlePart.size());
    properties += std::string("HotspotHTMLTitle=") + titleQuote + std::string(titlePart) +
                  titleQuote;
    if (STATUS status = sub->AppendHotspot("FORMULA ACTION", formula.c_str(),
                                           static_cast<WORD>(formula.size()), properties.c_str(),
                                           display.data(), static_cast<WORD>(display.size()));
        status != NOERROR)
      return status;
    sub->SetPropertyText("Text", "", 0);
    if (sub->status != NOERROR)
      return sub->status;
  }
  return NOERROR;
}

/* Steps 2 to 7 with the database open as the session's link database. */
STATUS RunWiki(VelkoRTChunk& chunk, const wiki_options& options, const char* server,
               const char* path, const char* view) {
  SavedSwitches switches(chunk);
  chunk.status = 0;
  STATUS status = UndoEarlierRuns(chunk, options, "ActionHotspot 1", false);
  if (status == NOERROR)
    status = UndoEarlierRuns(chunk, options, "HyperLink 1", true);
  if (status == NOERROR)
    status = MarkMarkups(chunk, options);
  chunk.TextWildcards = 0;
  if (status == NOERROR && options.resolve) {
    status = chunk.AlterRichText(ACTION_WIKI_MATCHING, ACTION_WIKI_MATCHING, 0, 0, 0, view,
                                 options.tag.empty() ? nullptr : options.tag.c_str(), nullptr,
                                 nullptr);
    if (status == VELKO_ERR_ITEM_NOT_FOUND)
      status = NOERROR;
    if (status == NOERROR)
      status = AddComposeHotspots(chunk, options, server, path);
  }
  if (status != NOERROR)
    return status;
  switches.RestoreMerge();
  if (STATUS committed = chunk.item->Commit(); committed != NOERROR)
    return committed;
  switches.RestoreAll();
  return chunk.item->AutoSave != 0 ? NSFNoteUpdate(chunk.item->note, UPDATE_FORCE) : NOERROR;
}

} // namespace

STATUS VelkoRTChunk::WikiMatching(const char* server, const char* path, const char* view,
                                  const char* field, const char* formula,
                                  const char* properties) {
  LSXLsiSession* owner = session;
  const char* refusal = nullptr;
  if (IsEmptyText(path))
    refusal = "TARNO: WikiMatching method passed an invalid database filepath.";
  else if (IsEmptyText(view))
    refusal = "TARNO: WikiMatching method passed an invalid view name.";
  else if (IsEmptyText(field))
    refusal = "TARNO: WikiMatching missing reference fieldname.";
  if (refusal != nullptr) {
    ShowUserMessage(refusal);
    DropCachedTable(owner);
    return status = VELKO_ERR_INVALID_ARGUMENT;
  }
  // A chunk whose item was disconnected has no records to match in.
  if (item == nullptr)
    return status = VELKO_ERR_BAD_ARGUMENT;
  const std::string optionCopy = properties != nullptr ? properties : "";
  const wiki_options options = ReadOptions(optionCopy.c_str(), item);

  _internal_SESS* internal = owner->internal;
  const bool local = server != nullptr && server[0] == '@';
  DBHANDLE db = NULLHANDLE;
  STATUS outcome = OpenDB(owner, local ? "" : server, path, &db);
  if (outcome != NOERROR) {
    DropCachedTable(owner);
    return status = static_cast<WORD>(outcome);
  }
  const DBHANDLE previousDb = internal->link_db;
  internal->link_db = db;
  if (IsEmptyText(formula))
    outcome = ReadLinkTarget(owner, view);
  if (outcome != NOERROR) {
    internal->link_db = previousDb;
    NSFDbClose(db);
    DropCachedTable(owner);
    return status = static_cast<WORD>(outcome);
  }
  const char* previousOptions = internal->option_string;
  internal->option_string = optionCopy.c_str();
  outcome = RunWiki(*this, options, server, path, view);
  internal->option_string = previousOptions;
  CloseCachedViewCollection(owner);
  internal->link_db = previousDb;
  NSFDbClose(db);
  return status = static_cast<WORD>(outcome);
}
