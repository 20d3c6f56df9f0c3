#include "gatherer/masks/html_document.h"

#include <gtest/gtest.h>

#include <atomic>
#include <gumbo.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <thread>

#include "gatherer/masks/charset.h"
#include "gatherer/masks/text_util.h"

namespace orvo {
namespace {

// First element below `from` with the tag (document order).
int Find(const HtmlDocument& d, std::string_view tag, int from = 0) {
  for (int e = from + 1; e < d.ElementCount(); ++e)
    if (d.TagName(e) == tag) return e;
  return -1;
}

TEST(HtmlDocument, TreeWithCommentsAndUnknownTags) {
  HtmlDocument d = HtmlDocument::Parse(
      "<html><head><title>t</title></head><body><div class='A'>x</div><!-- c -->"
      "<cmnt url='u'></cmnt><div>y</div><p>z</body>");
  ASSERT_GE(d.Body(), 0);
  auto kids = d.Children(d.Body());
  ASSERT_EQ(kids.size(), 5u);
  EXPECT_EQ(d.TagName(kids[0]), "DIV");
  EXPECT_EQ(d.TagName(kids[1]), "!");
  EXPECT_TRUE(d.IsComment(kids[1]));
  EXPECT_EQ(d.CommentText(kids[1]), " c ");
  EXPECT_EQ(d.TagName(kids[2]), "CMNT");
  EXPECT_EQ(d.Attribute(kids[2], "URL"), "u");
  EXPECT_EQ(d.SameTagIndex(kids[0]), 0);
  EXPECT_EQ(d.SameTagIndex(kids[3]), 1);
  EXPECT_EQ(d.SameTagIndex(kids[4]), 0);
  EXPECT_EQ(d.Parent(kids[3]), d.Body());
  EXPECT_EQ(d.ClassName(kids[0]), "A");
  EXPECT_EQ(d.Attribute(kids[3], "class"), "");
  // Ids are document-order indexes.
  for (size_t i = 1; i < kids.size(); ++i) EXPECT_LT(kids[i - 1], kids[i]);
  EXPECT_EQ(d.TagName(0), "HTML");
}

TEST(HtmlDocument, HrefAndSrcAreAbsolute) {
  HtmlDocument d = HtmlDocument::Parse(
      "<body><a href='news/1.html?x=1'>a</a><img src='/i/p.jpg'><a name=n>b</a></body>",
      "http://site.example/dir/page.html");
  int a = Find(d, "A");
  EXPECT_EQ(d.Attribute(a, "href"), "http://site.example/dir/news/1.html?x=1");
  EXPECT_EQ(d.Attribute(Find(d, "IMG"), "SRC"), "http://site.example/i/p.jpg");
  EXPECT_EQ(d.Attribute(Find(d, "A", a), "href"), "");
  EXPECT_FALSE(d.HasAttribute(Find(d, "A", a), "href"));
}

TEST(HtmlDocument, BaseElementChangesResolution) {
  HtmlDocument d = HtmlDocument::Parse(
      "<head><base href='/other/'></head><body><a href='x.html'>a</a></body>",
      "http://site.example/dir/page.html");
  EXPECT_EQ(d.BaseUrl(), "http://site.example/other/");
  EXPECT_EQ(d.Attribute(Find(d, "A"), "href"), "http://site.example/other/x.html");
}

TEST(HtmlDocument, InnerTextLikeABrowser) {
  HtmlDocument d = HtmlDocument::Parse(
      "<body><div id=r>  Hello   <b>bold</b>\n world<br>next line"
      "<p>para one</p><p>para two</p><ul><li>a</li><li>b</li></ul>"
      "<script>var x = 1;</script><style>p{}</style><span hidden>secret</span>"
      "<span style='display: none'>gone</span>"
      "<table><tr><td>c1</td><td>c2</td></tr><tr><td>c3</td></tr></table>"
      "<pre>  keep\n   this</pre>tail &amp; &nbsp;end</div></body>");
  int r = Find(d, "DIV");
  EXPECT_EQ(d.InnerText(r),
            "Hello bold world\nnext line\n\npara one\n\npara two\n\na\nb\nc1\tc2\nc3\n"
            "  keep\n   this\ntail & \xC2\xA0" "end");
}

TEST(HtmlDocument, InnerTextEdges) {
  HtmlDocument d = HtmlDocument::Parse("<body><div><br>x</div><p>   </p><span> a </span></body>");
  EXPECT_EQ(d.InnerText(Find(d, "DIV")), "\nx");
  EXPECT_EQ(d.InnerText(Find(d, "P")), "");
  EXPECT_EQ(d.InnerText(Find(d, "SPAN")), "a");
  EXPECT_EQ(d.InnerText(-1), "");
  EXPECT_EQ(d.InnerText(9999), "");
}

TEST(HtmlDocument, AdjacentTextAtTheFourPlaces) {
  HtmlDocument d = HtmlDocument::Parse(
      "<body><div>before  it<span>start <i>mid</i> end </span>\n after<b>x</b></div></body>");
  int s = Find(d, "SPAN");
  // Runs of white space shrink to one space, or to one line feed when they
  // held one; the ends are kept so neighbouring words do not glue together.
  EXPECT_EQ(d.AdjacentText(s, AdjacentPosition::kBeforeBegin), "before it");
  EXPECT_EQ(d.AdjacentText(s, AdjacentPosition::kAfterBegin), "start ");
  EXPECT_EQ(d.AdjacentText(s, AdjacentPosition::kBeforeEnd), " end ");
  EXPECT_EQ(d.AdjacentText(s, AdjacentPosition::kAfterEnd), "\nafter");
  int i = Find(d, "I");
  EXPECT_EQ(d.AdjacentText(i, AdjacentPosition::kAfterBegin), "mid");
  int b = Find(d, "B");
  EXPECT_EQ(d.AdjacentText(b, AdjacentPosition::kAfterEnd), "");
  // An element next to it, not text: nothing.
  HtmlDocument e = HtmlDocument::Parse("<body><div><i>a</i><span>b</span></div></body>");
  EXPECT_EQ(e.AdjacentText(Find(e, "SPAN"), AdjacentPosition::kBeforeBegin), "");
}

int Depth(const HtmlDocument& d, int e) {
  int depth = 0;
  for (; e >= 0; e = d.Parent(e)) ++depth;
  return depth;
}

int MaxDepth(const HtmlDocument& d) {
  int deepest = 0;
  for (int e = 0; e < d.ElementCount(); ++e) deepest = std::max(deepest, Depth(d, e));
  return deepest;
}

// Hostile nesting is capped as browsers cap it, so the parse stays linear;
// the text inside is kept, and ordinary pages are not touched.
TEST(HtmlDocument, NestingIsCappedAndItsTextKept) {
  std::string page = "<html><body>";
  for (int i = 0; i < 20000; ++i) page += "<div>";
  page += "<p class=x>deep end</p>";
  for (int i = 0; i < 3000; ++i) page += "</div>";
  page += "<span>after</span>";
  HtmlDocument d = HtmlDocument::Parse(page);
  EXPECT_LE(MaxDepth(d), int(kMaxNesting) + 4);
  EXPECT_NE(d.InnerText(d.Body()).find("deep end"), std::string::npos);
  EXPECT_NE(d.InnerText(d.Body()).find("after"), std::string::npos);

  // Unclosed inline elements nest too; unclosed list items, links and
  // paragraphs do not, so a long sloppy list keeps every link.
  std::string bold = "<body>" + std::string(30000, 'x');
  for (int i = 0; i < 5000; ++i) bold += "<b>x";
  EXPECT_LE(MaxDepth(HtmlDocument::Parse(bold)), int(kMaxNesting) + 4);
  std::string list = "<body><ul>";
  for (int i = 0; i < 2000; ++i) list += "<li><a href='/n" + std::to_string(i) + "'>n<p>t";
  HtmlDocument l = HtmlDocument::Parse(list);
  int links = 0;
  for (int e = 0; e < l.ElementCount(); ++e) links += l.TagName(e) == "A";
  EXPECT_EQ(links, 2000);

  // Below the cap nothing changes: quotes, comments and scripts with '<'.
  std::string fine = "<body><div title='a>b'><!-- <div> --><script>if (a<b) x='</div>';</script>";
  for (int i = 0; i < 600; ++i) fine += "<i></i>";
  fine += "<svg><path/><path/></svg><em>ok</em></div></body>";
  HtmlDocument f = HtmlDocument::Parse(fine);
  EXPECT_EQ(f.Attribute(Find(f, "DIV"), "title"), "a>b");
  EXPECT_EQ(f.InnerText(Find(f, "EM")), "ok");
}

// Markup that the cap's scan used to read otherwise than the tree builder:
// a form inside a form opens nothing, "<!-->" is a whole comment.
TEST(HtmlDocument, NestingCapSeesWhatTheTreeBuilderSees) {
  std::string forms = "<html><body><form>";
  for (int i = 0; i < 20000; ++i) forms += "<div><form>";
  std::string comment = "<html><body><!-->";
  for (int i = 0; i < 20000; ++i) comment += "<div>";
  std::string bang = "<html><body><!-- x --!>";
  for (int i = 0; i < 20000; ++i) bang += "<div>";
  for (const std::string* page : {&forms, &comment, &bang}) {
    HtmlDocument d = HtmlDocument::Parse(*page);
    EXPECT_LE(MaxDepth(d), int(kMaxNesting) + 4) << page->substr(0, 30);
  }
  // A form after a closed one still opens, and holds its fields.
  HtmlDocument f = HtmlDocument::Parse("<body><form id=a></form><form id=b><div><input name=q></div></form>");
  EXPECT_EQ(f.Attribute(f.Parent(f.Parent(Find(f, "INPUT"))), "id"), "b");
}

// A parse that nobody waits for any more stops instead of running on.
TEST(HtmlDocument, ACancelledParseStopsWithoutATree) {
  std::string page = "<html><body>";
  for (int i = 0; i < 5000; ++i) page += "<p>paragraph " + std::to_string(i) + "</p>";
  std::atomic<bool> cancel{true};
  EXPECT_FALSE(HtmlDocument::ParseWith(page, "", "", true, &cancel).HasTree());
  cancel = false;
  HtmlDocument d = HtmlDocument::ParseWith(page, "", "", true, &cancel);
  EXPECT_TRUE(d.HasTree());
  EXPECT_GT(d.ElementCount(), 5000);
}

TEST(HtmlDocument, FromBytesDecodesAndReportsTheCharset) {
  HtmlDocument d = HtmlDocument::FromBytes(
      "<meta http-equiv=content-type content='text/html; charset=windows-1250'>"
      "<body><p>\x8A\x9A</p></body>",
      "", "http://x.example/");
  EXPECT_EQ(d.DeclaredCharset(), "windows-1250");
  EXPECT_EQ(d.InnerText(Find(d, "P")), "\xC5\xA0\xC5\xA1");
}

TEST(HtmlDocument, BrokenInputStillGivesADocument) {
  for (std::string text : {std::string(), std::string("<"), std::string("<div <p class='"),
                           std::string("\0\0\xFF\xFE<b>", 7), std::string("<frameset></frameset>"),
                           std::string("</body></html><p>late")}) {
    HtmlDocument d = HtmlDocument::FromBytes(text, "", "");
    EXPECT_TRUE(d.HasTree());
    for (int e = 0; e < d.ElementCount(); ++e) {
      d.InnerText(e);
      d.AdjacentText(e, AdjacentPosition::kBeforeBegin);
      d.AdjacentText(e, AdjacentPosition::kBeforeEnd);
    }
  }
  HtmlDocument frames = HtmlDocument::Parse("<frameset><frame src=a></frameset>");
  EXPECT_EQ(frames.Body(), -1);
}

TEST(HtmlDocument, DeepNestingNeedsNoDeepStack) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<span>";
  deep += "x";
  HtmlDocument d = HtmlDocument::Parse(deep);
  EXPECT_EQ(d.InnerText(d.Body()), "x");
}

TEST(HtmlDocument, MovedDocumentKeepsItsTree) {
  HtmlDocument a = HtmlDocument::Parse("<body><p>short</p></body>");
  HtmlDocument b = std::move(a);
  EXPECT_EQ(b.InnerText(b.Body()), "short");
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

// Every element with its parent and its child nodes' texts, one line each.
// A text node as the document layer keeps it: each run of white space one
// space, or one line feed when it held one (outside pre and raw text, where
// both parses keep the text as it is).
std::string RunsShortened(std::string_view t) {
  auto space = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\f'; };
  std::string out;
  for (size_t i = 0; i < t.size();) {
    if (!space(t[i])) {
      out += t[i++];
      continue;
    }
    size_t end = i;
    bool line = false;
    while (end < t.size() && space(t[end])) line |= t[end] == '\n' || t[end] == '\r', ++end;
    out += end - i == 1 ? (t[i] == '\r' ? '\n' : t[i]) : line ? '\n' : ' ';
    i = end;
  }
  return out;
}

std::string Dump(const HtmlDocument& d) {
  std::string out;
  std::vector<HtmlDocument::ChildNode> kids;
  for (int e = 0; e < d.ElementCount(); ++e) {
    out += std::string(d.TagName(e)) + " in " + std::to_string(d.Parent(e)) + ":";
    d.ChildNodes(e, kids);
    for (const auto& k : kids) out += k.element < 0 ? "[" + RunsShortened(k.text) + "]" : " " + std::to_string(k.element);
    out += '\n';
  }
  return out;
}

std::string Pad(const std::string& s) { return s + std::string(300, ' ') + "x = a < b && c > d;"; }

TEST(HtmlDocument, ScriptsAndStylesSetAsideGiveTheSameTree) {
  const std::string script = Pad("var s = '<div>not markup</div>'; if (a</b) f();\r\nnext\rline");
  const std::vector<std::string> pages = {
      "<html><head><script>" + script + "</script><style>" + Pad("p { color: red }") +
          "</style></head><body><p>t</p><SCRIPT type=x>" + script + "</SCRIPT ><p>u</p></body></html>",
      // Inside a comment, a title or a textarea a script is text.
      "<body><!-- <script>" + script + "</script> --><title><script>" + script + "</script></title>"
          "<textarea><script>" + script + "</script></textarea></body>",
      // An opening inside the script, foreign content, an end tag that is none.
      "<body><script>" + Pad("<!-- <script>x</script> -->") + "</script><p>v</p>"
          "<svg><script>" + Pad("<![CDATA[ a < b ]]>") + "</script></svg><script>" + Pad("</scripts> go on") +
          "</script ><p>w</p></body>",
      // Unclosed, quoted '>' in the start tag, controls and noncharacters
      // inside, markers of the page itself.
      "<body><script data-x='a>b'>" + Pad(std::string("nul\0here\x01\x0B\x7F\xC2\x97\xEF\xB7\x90\xEF\xBF\xBF"
                                                     "\xF0\x9F\xBF\xBE\xF0\x9F\x98\x80\t\f", 29)) +
          "</script><script>" + script,
      "<body><script>" + Pad("\xEE\x80\x80orvo-raw:0\xEE\x80\x80") + "</script></body>",
      "<body><script>" + Pad("tail") + "</script>",
  };
  for (const std::string& page : pages) {
    std::string slow = Dump(HtmlDocument::ParseWith(page, "", "", false));
    EXPECT_EQ(Dump(HtmlDocument::Parse(page)), slow) << page;
  }
}

// Each real page of the corpus, decoded; how many there were.
int ForEachCorpusPage(const std::function<void(const std::string& text, const std::filesystem::path&)>& check) {
  int pages = 0;
  for (const auto& f : std::filesystem::directory_iterator(MASKS_CORPUS_DIR)) {
    if (f.path().extension() != ".html") continue;
    std::ifstream in(f.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    check(DecodePage(bytes, "").text, f.path());
    ++pages;
  }
  return pages;
}

TEST(HtmlDocument, RealPagesGiveTheSameTreeWithScriptsSetAside) {
  int pages = ForEachCorpusPage([](const std::string& text, const std::filesystem::path& path) {
    EXPECT_EQ(Dump(HtmlDocument::Parse(text)), Dump(HtmlDocument::ParseWith(text, "", "", false))) << path;
  });
  EXPECT_GE(pages, 10);
}

// The same lines as Dump, from gumbo's own tree as gumbo builds it with
// malloc and free: the tree the document copies from its parse must be it.
std::string GumboDump(const std::string& page) {
  GumboOutput* out = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
  std::vector<const GumboNode*> order;  // elements and comments, document order
  std::vector<int> parents;
  std::vector<std::pair<const GumboNode*, int>> stack{{out->root, -1}};
  while (!stack.empty()) {
    auto [n, parent] = stack.back();
    stack.pop_back();
    order.push_back(n);
    parents.push_back(parent);
    if (n->type != GUMBO_NODE_ELEMENT && n->type != GUMBO_NODE_TEMPLATE) continue;
    const GumboVector& kids = n->v.element.children;
    for (unsigned i = kids.length; i-- > 0;) {
      auto* k = static_cast<const GumboNode*>(kids.data[i]);
      if (k->type == GUMBO_NODE_ELEMENT || k->type == GUMBO_NODE_TEMPLATE || k->type == GUMBO_NODE_COMMENT)
        stack.push_back({k, int(order.size()) - 1});
    }
  }
  std::string dump;
  for (size_t id = 0; id < order.size(); ++id) {
    const GumboNode* n = order[id];
    bool element = n->type != GUMBO_NODE_COMMENT;
    dump += (element ? AsciiUpper(gumbo_normalized_tagname(n->v.element.tag)) : std::string("!")) + " in " +
            std::to_string(parents[id]) + ":";
    if (element) {
      const GumboVector& kids = n->v.element.children;
      for (unsigned i = 0; i < kids.length; ++i) {
        auto* k = static_cast<const GumboNode*>(kids.data[i]);
        if (k->type == GUMBO_NODE_ELEMENT || k->type == GUMBO_NODE_TEMPLATE || k->type == GUMBO_NODE_COMMENT)
          dump += " " + std::to_string(std::find(order.begin(), order.end(), k) - order.begin());
        else if (k->type != GUMBO_NODE_DOCUMENT)
          dump += "[" + RunsShortened(k->v.text.text) + "]";
      }
    }
    dump += '\n';
  }
  gumbo_destroy_output(&kGumboDefaultOptions, out);
  return dump;
}

// Pages that make the parser allocate, grow and free blocks of every size:
// many small nodes, long texts and attribute values, tables whose stray
// content moves, entities, comments.
std::vector<std::string> AllocationPages() {
  std::string many, long_text(70000, 'w'), long_value(9000, 'v');
  for (size_t i = 0; i < long_text.size(); i += 7) long_text[i] = ' ';
  for (int i = 0; i < 3000; ++i)
    many += "<span class=c" + std::to_string(i % 17) + " title='t&amp;" + std::to_string(i) + "'>" +
            std::string(size_t(i % 40), 'x') + "&eacute;</span>" + (i % 5 ? "" : "<!-- n" + std::to_string(i) + " -->");
  return {"<html><body><div>" + many + "</div></body></html>",
          "<body><p data-x='" + long_value + "'>" + long_text + "</p><table><tr><td>a</td>stray " + long_text +
              "<div>moved</div></table>" + many.substr(0, 20000),
          "<body><ul><li>one<li>two<li>" + long_text.substr(0, 5000) + "</ul><b><i>mis</b>nested</i></body>"};
}

// Runs of white space are shortened before the parse (the tokenizer reads
// them one by one); where white space is kept, it is kept exactly.
TEST(HtmlDocument, WhiteSpaceRunsAreShortenedOnlyWhereTheyShowAsOne) {
  const std::string script = "var  s = '  two  ';" + std::string(40, ' ');
  HtmlDocument d = HtmlDocument::Parse("<body><p>a   \n\n  b \t c</p><pre>x   \n\n  y</pre><textarea>u    v</textarea>"
                                       "<script>" + script + "</script><p title='t   u'>e  f</p></body>");
  std::map<std::string, std::vector<int>> by_tag;
  for (int e = 0; e < d.ElementCount(); ++e) by_tag[std::string(d.TagName(e))].push_back(e);
  std::vector<HtmlDocument::ChildNode> kids;
  auto text_of = [&](int e) {
    d.ChildNodes(e, kids);
    std::string t;
    for (const auto& k : kids) t += k.text;
    return t;
  };
  ASSERT_EQ(by_tag["P"].size(), 2u);
  EXPECT_EQ(text_of(by_tag["P"][0]), "a\nb c");
  EXPECT_EQ(d.InnerText(by_tag["P"][0]), "a b c");
  EXPECT_EQ(text_of(by_tag["PRE"][0]), "x   \n\n  y");
  EXPECT_EQ(text_of(by_tag["TEXTAREA"][0]), "u    v");
  EXPECT_EQ(text_of(by_tag["SCRIPT"][0]), script);
  EXPECT_EQ(d.Attribute(by_tag["P"][1], "title"), "t   u");
  EXPECT_EQ(text_of(by_tag["P"][1]), "e f");
}

// Long attribute values set aside before the parse come back as the
// tokenizer reads them: those with references, line ends or controls are
// left to it.
TEST(HtmlDocument, LongAttributeValuesSetAsideReadAsTheTokenizerReadsThem) {
  const std::string url = "http://site.test/a/b/", long_path = std::string(60, 'p');
  std::vector<std::string> pages = {
      "<body><a href='/" + long_path + "' title=\"" + long_path + " &amp; more " + long_path + "\">x</a>"
      "<img src=\"img/" + long_path + ".jpg\" srcset='a.jpg 1x, " + long_path + ".jpg 2x' alt='" + long_path +
          "\r\nline'>"
      "<div class='" + long_path + " \xC3\xA9t\xC3\xA9 " + long_path + "' data-x='" + long_path + "\x01" + "'"
      " id=\"" + long_path + " > still the value\" style='a:b'></div>"
      "<svg><path d='M 0 0 L " + long_path + " Z'/></svg><p title=\"" + long_path + "'quoted'\">y</p></body>"};
  for (const std::string& page : AllocationPages()) pages.push_back(page);
  ForEachCorpusPage([&](const std::string& text, const std::filesystem::path&) { pages.push_back(text); });
  for (const std::string& page : pages) {
    HtmlDocument fast = HtmlDocument::Parse(page, url), slow = HtmlDocument::ParseWith(page, url, "", false);
    ASSERT_EQ(fast.ElementCount(), slow.ElementCount());
    for (int e = 0; e < fast.ElementCount(); ++e)
      for (const char* name : {"href", "src", "srcset", "title", "alt", "class", "id", "data-x", "style", "d",
                               "content", "value"})
        ASSERT_EQ(fast.Attribute(e, name), slow.Attribute(e, name)) << name << " of element " << e;
  }
}

TEST(HtmlDocument, TheTreeIsGumbosOwnWhateverTheParseAllocates) {
  const std::vector<std::string> pages = AllocationPages();
  std::vector<std::string> wanted;
  for (const std::string& page : pages) {
    wanted.push_back(GumboDump(page));
    EXPECT_EQ(Dump(HtmlDocument::Parse(page)), wanted.back()) << page.substr(0, 200);
  }
  // Two threads at once, each parse after another on the same thread.
  std::vector<std::string> got[2];
  auto parse_all = [&](int t) {
    for (int round = 0; round < 3; ++round)
      for (const std::string& page : pages) got[t].push_back(Dump(HtmlDocument::Parse(page)));
  };
  std::thread other(parse_all, 1);
  parse_all(0);
  other.join();
  for (int t = 0; t < 2; ++t) {
    ASSERT_EQ(got[t].size(), 3 * pages.size());
    for (size_t i = 0; i < got[t].size(); ++i) EXPECT_EQ(got[t][i], wanted[i % pages.size()]) << t << " " << i;
  }
}

TEST(HtmlDocument, RealPagesGiveGumbosOwnTree) {
  int pages = ForEachCorpusPage([](const std::string& text, const std::filesystem::path& path) {
    // Unknown tags and deep nesting read otherwise; the pages have neither.
    EXPECT_EQ(Dump(HtmlDocument::ParseWith(text, "", "", false)), GumboDump(text)) << path;
  });
  EXPECT_GE(pages, 10);
}

}  // namespace
}  // namespace orvo
