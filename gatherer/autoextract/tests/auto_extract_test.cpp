// Automatic extraction and news feeds on small pages written for the purpose.
#include <gtest/gtest.h>

#include "gatherer/autoextract/auto_extract.h"
#include "gatherer/masks/feed.h"

namespace orvo {
namespace {

struct Extracted {
  AutoExtractResult result;
  FinishedNewsItem item;
};

Extracted Extract(const std::string& html, bool load_images = true) {
  HtmlDocument page = HtmlDocument::Parse(html, "http://site.test/news/1.html");
  ExtractionState state;
  state.load_images = load_images;
  Extracted e;
  e.result = AutoExtract(page, state);
  e.item = FinishNewsItem(state, page.Url());
  return e;
}

std::string Story(const std::string& word) {
  std::string p;
  for (int i = 1; i <= 4; ++i)
    p += "<p>" + word + " paragraph " + std::to_string(i) +
         ", long enough to be text, with commas, clauses and a full stop at its end.</p>";
  return p;
}

const std::string kArticlePage =
    "<html><head><title>The harbour reopens | The Daily</title>"
    "<meta name=author content='Desk'><meta property='article:published_time' content='2024-03-05T14:30:00+01:00'>"
    "</head><body><nav class=menu><a href=/a>World</a> <a href=/b>Sport</a> <a href=/c>Arts</a></nav>"
    "<div id=sidebar><p>Most read: <a href=/x>Another story with a long headline that is a link</a></p></div>"
    "<article class=story><h1>The harbour reopens</h1><p class=byline>By Ann Lee</p>" +
    Story("Harbour") +
    "<figure><img src='/img/blank.gif' data-src='/img/harbour.jpg' width=600><figcaption>The quay at dawn"
    "</figcaption></figure><p>Last words &amp; <b>bold</b> claims: a &lt; b.</p>"
    "<div class=share-tools><a href=/s>Share</a> <a href=/t>Tweet</a></div>"
    "<div class=related><p>Related: <a href=/r>Old news about the harbour and its many boats</a></p></div>"
    "</article><footer><p>Imprint, contact and all that, with commas, in a footer that is long enough.</p></footer>"
    "</body></html>";

TEST(AutoExtractTest, FindsTheArticleAndLeavesTheFurnitureOut) {
  Extracted e = Extract(kArticlePage);
  ASSERT_TRUE(e.result.found);
  EXPECT_EQ(e.item.title, "The harbour reopens");
  EXPECT_EQ(e.item.author, "Ann Lee");
  EXPECT_EQ(e.result.date, DateTime::Make(2024, 3, 5, 14, 30, 0));
  const std::string& body = e.item.body;
  EXPECT_EQ(body.rfind("Harbour paragraph 1,", 0), 0u) << body;
  EXPECT_NE(body.find(std::string(kParagraphBreak1) + "Harbour paragraph 2,"), std::string::npos) << body;
  // Page text is escaped once, inline markup gives way to its text.
  EXPECT_NE(body.find("Last words &amp; bold claims: a &lt; b."), std::string::npos) << body;
  for (const char* furniture : {"World", "Most read", "Share", "Related", "Imprint", "By Ann Lee", "The quay"})
    EXPECT_EQ(body.find(furniture), std::string::npos) << furniture << " in " << body;
  // The lazy picture, with its caption, in its place.
  ASSERT_EQ(e.item.images.size(), 1u);
  EXPECT_EQ(e.item.images[0].source, "http://site.test/img/harbour.jpg");
  EXPECT_EQ(e.item.images[0].caption, "The quay at dawn");
  EXPECT_LT(body.find("Harbour paragraph 4"), body.find("[[{0}]]"));
  EXPECT_LT(body.find("[[{0}]]"), body.find("Last words"));
}

// The standfirst kept apart from the text, in the article's header or a box
// of its own, opens the body; teasers of other stories and leads far from
// the text do not.
TEST(AutoExtractTest, TheStandfirstOpensTheBodyWhereverTheSiteKeepsIt) {
  const std::string lead = "The harbour reopens after a winter of repairs, and the boats are back.";
  auto page = [&](const std::string& before, const std::string& inside) {
    return "<html><body><div class=teaser><p class=teaser-text><a href=/o>Another story with a long headline "
           "that is a link</a></p></div>" + before +
           "<div class=entry-content>" + inside + Story("Harbour") + "</div></article></body></html>";
  };
  // In the article's header, past the headline and the byline.
  Extracted e = Extract(page("<article><header><h1>Harbour</h1><p class=article-excerpt>" + lead +
                             "</p><p class=byline>By Ann Lee, 5 March</p></header>", ""));
  EXPECT_EQ(e.item.body.rfind(lead + kParagraphBreak1 + "Harbour paragraph 1,", 0), 0u) << e.item.body;
  EXPECT_EQ(e.item.body.find("Another story"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("Ann Lee"), std::string::npos) << e.item.body;
  // In the text itself, named both lead and teaser: kept, once.
  e = Extract(page("<article>", "<p class='lead teasertext'>" + lead + "</p>"));
  EXPECT_EQ(e.item.body.rfind(lead + kParagraphBreak1 + "Harbour paragraph 1,", 0), 0u) << e.item.body;
  // Repeated as the first paragraph: once.
  e = Extract(page("<article><div class=intro>" + lead + "</div>", "<p>" + lead + "</p>"));
  EXPECT_EQ(e.item.body.find(lead), e.item.body.rfind(lead)) << e.item.body;
  // A sentence in a heading right below the headline; a mere heading there is none.
  e = Extract(page("<article><header><hgroup><h1>Harbour</h1><h2>" + lead + "</h2></hgroup></header>", ""));
  EXPECT_EQ(e.item.body.rfind(lead + kParagraphBreak1 + "Harbour paragraph 1,", 0), 0u) << e.item.body;
  e = Extract(page("<article><header><h1>Harbour</h1><h2>The harbour, the quays and the boats of the island "
                   "in winter</h2></header>", ""));
  EXPECT_EQ(e.item.body.rfind("Harbour paragraph 1,", 0), 0u) << e.item.body;
  // A sentence in the paragraph right below the headline, in a box of the
  // page's top; a byline there is none.
  const std::string long_lead = lead + " The first ferry came in at seven, watched by half the island.";
  e = Extract(page("<div class=hero><h1>Harbour</h1><p>" + long_lead + "</p><div class=date>5 March</div></div>"
                   "<article>", ""));
  EXPECT_EQ(e.item.body.rfind(long_lead + kParagraphBreak1 + "Harbour paragraph 1,", 0), 0u) << e.item.body;
  e = Extract(page("<div class=hero><h1>Harbour</h1><p>By Ann Lee and Bo Berg, 5 March 2024, in the news of the "
                   "island and of its harbour</p></div><article>", ""));
  EXPECT_EQ(e.item.body.rfind("Harbour paragraph 1,", 0), 0u) << e.item.body;
  // Named so in the languages of the sites read.
  for (const char* name : {"article-abstract", "story__deck", "vorspann", "bajada"}) {
    e = Extract(page("<article><h1>Harbour</h1><div class=" + std::string(name) + ">" + lead + "</div>", ""));
    EXPECT_EQ(e.item.body.rfind(lead + kParagraphBreak1 + "Harbour paragraph 1,", 0), 0u) << name << ": " << e.item.body;
  }
  // A review's verdict in a box of its own before the text.
  e = Extract(page("<article><h1>Harbour</h1><div class='box verdict'><h3>Our verdict</h3><p>" + lead +
                   "</p></div>", ""));
  EXPECT_EQ(e.item.body.rfind("Our verdict" + std::string(kParagraphBreak1) + lead + kParagraphBreak1 +
                              "Harbour paragraph 1,", 0), 0u) << e.item.body;
  // A blog's tagline in the site's header is no standfirst.
  e = Extract(page("<header><p class=site-description>" + lead + "</p></header><article>", ""));
  EXPECT_EQ(e.item.body.find("winter of repairs"), std::string::npos) << e.item.body;
  // Far from the text, with a page of other text between: not the article's.
  std::string between;
  for (int i = 0; i < 8; ++i) between += "<span>Opening hours of the museum, the library and the pool. </span>";
  e = Extract(page("<div class=intro>" + lead + "</div>" + between + "<article>", ""));
  EXPECT_EQ(e.item.body.find("winter of repairs"), std::string::npos) << e.item.body;
}

// An article cut into boxes, an advertisement between, the longer part in
// wrappers of its own: both parts, in their order, and nothing of the boxes
// around them that are no text.
TEST(AutoExtractTest, TextCutIntoBoxesIsReadWhole) {
  std::string page = "<html><body><article><h1>Harbour</h1><div class=part>" + Story("Opening") + Story("Second") +
                     "</div><div class=box><a href=/ad>Buy a boat today, the best boats at the best prices</a></div>"
                     "<div class=wrap><div class=inner><div class=field>" +
                     Story("Harbour") + Story("Quay") + Story("Boat") +
                     "</div></div></div><div class=box><p>Write to us, with a comma, at the usual address.</p></div>"
                     "<div class=list><p><a href=/1>First other story with a long headline</a></p><p><a href=/2>"
                     "Second other story with a long headline</a></p><p><a href=/3>Third other story, long "
                     "headline</a></p><p>and some words</p></div></article></body></html>";
  Extracted e = Extract(page);
  const std::string& body = e.item.body;
  EXPECT_EQ(body.rfind("Opening paragraph 1,", 0), 0u) << body;
  EXPECT_LT(body.find("Second paragraph 4"), body.find("Harbour paragraph 1"));
  EXPECT_NE(body.find("Boat paragraph 4"), std::string::npos) << body;
  for (const char* furniture : {"Buy a boat", "Write to us", "other story"})
    EXPECT_EQ(body.find(furniture), std::string::npos) << furniture << " in " << body;
  // The facts in a box of running text before the text: the article's.
  const std::string facts = "The facts: the harbour closed in November, the repairs cost two million euros, and "
                            "the first ferry docked again on Monday morning at seven, watched by a crowd of "
                            "islanders, fishermen and their children.";
  e = Extract("<html><body><div class=item><div class=facts>" + facts + "</div><div class=text>" +
              Story("Harbour") + Story("Quay") + "</div><div class=foot>Write to us at the usual address.</div>"
              "</div></body></html>");
  EXPECT_EQ(e.item.body.rfind(facts + kParagraphBreak1 + "Harbour paragraph 1", 0), 0u) << e.item.body;
  EXPECT_EQ(e.item.body.find("Write to us"), std::string::npos) << e.item.body;
  // A long closing paragraph beside the text's wrappers: the article's too.
  const std::string closing = "About the harbour: it was built in 1870, rebuilt after the storm of 1953, and "
                              "serves the island, the fishermen and the ferries, with more than two hundred boats "
                              "a year, many of them from abroad, and a yard that repairs them all winter, when "
                              "the sea is rough, the days are short and the quays are empty, save for the cats "
                              "and the old men who watch the water, the boats and the gulls.";
  e = Extract("<html><body><div class=col><div class=wrap><div class=text>" + Story("Harbour") + Story("Quay") +
              Story("Boat") + "</div></div><p>" + closing + "</p><p>Write to us, with a comma, at the usual "
              "address.</p></div></body></html>");
  EXPECT_NE(e.item.body.find(std::string(kParagraphBreak1) + closing), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("Write to us"), std::string::npos) << e.item.body;
}

// Text written straight into a box, its paragraphs only line breaks, with an
// advertisement's block among them, is the article: not the few tagged
// paragraphs of a box beside it. An author's card closing the text is not.
TEST(AutoExtractTest, TextWithoutParagraphTagsAmongBlocksIsTheArticle) {
  std::string loose;
  for (int i = 1; i <= 5; ++i)
    loose += "Loose paragraph " + std::to_string(i) + ", written without tags, with commas, clauses and words, "
             "long enough to be read as the text of the page.<br><br>";
  Extracted e = Extract("<html><body><div class=page><div class=box>" + loose +
                        "<div class=ad><p>Buy a boat today, at the best prices.</p></div>" + loose +
                        "</div><div class=aside><p>Another story in a short paragraph of its own.</p>"
                        "<p>One more story in a short paragraph of its own.</p><p>And a third story in a "
                        "short paragraph.</p></div></div></body></html>");
  EXPECT_EQ(e.item.body.rfind("Loose paragraph 1,", 0), 0u) << e.item.body;
  EXPECT_EQ(e.item.body.find("Another story"), std::string::npos) << e.item.body;
  e = Extract("<html><body><div class=text>" + Story("Harbour") +
              "<div class='vcard description_auteur'><h2>About Ann Lee</h2><div class=bio>Ann Lee writes about "
              "harbours, boats and the sea, and has done so, with a pause, for twenty years.</div></div>"
              "</div></body></html>");
  EXPECT_NE(e.item.body.find("Harbour paragraph 4"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("Ann Lee"), std::string::npos) << e.item.body;
}

// A page builder's rows, one class for all: the short rows after the long
// one are the text's too; a row of links, or a box of another kind, is not.
TEST(AutoExtractTest, RowsOfOneBuilderAreReadTogether) {
  auto row = [](const std::string& inner) {
    return "<div class='vc_row wpb_row'><div class=vc_column><div class=inner>" + inner + "</div></div></div>";
  };
  Extracted e = Extract("<html><body><div class=entry>" + row(Story("Harbour") + Story("Quay")) +
                        row("<h3>Shorter waits</h3><p>The ferries wait less at the quay, and the crews go home "
                            "earlier in the evening, when the last boat is in.</p>") +
                        row("<p><a href=/1>Another story with a long headline that is a link</a> <a href=/2>And "
                            "one more story with a long headline</a></p>") +
                        "<div class=box><div class=inner><p>Our seminar on harbours, with a comma, books up "
                        "fast: call us today.</p></div></div></div></body></html>");
  EXPECT_NE(e.item.body.find("The ferries wait less at the quay"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("Another story"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("Our seminar"), std::string::npos) << e.item.body;
  // The longest text in an accordion of one row: its panels and the rows
  // around it are one text, past the zoom box that repeats a caption.
  auto panel = [](const std::string& word, int stories) {
    std::string text;
    for (int i = 0; i < stories; ++i) text += Story(word);
    return "<div class=panel><h4>" + word + "</h4><div class=collapse><div class=split>" + text +
           "</div><div class=zoom>&times; A picture of the " + word + " and its caption, shown again when zoomed "
           "into.</div></div></div>";
  };
  Extracted rows = Extract("<html><body><div class=text><div class=outer><p>The opening row tells what the "
                           "article is about, at some length, with a comma or two in it, as openings do.</p></div><div class=outer><div "
                           "class=container><div class=accordion>" +
                           panel("Pellets", 3) + panel("Pumps", 1) +
                           "</div></div></div><div class=outer><p>The closing row says what it all comes to, "
                           "at some length, with a comma or two in it, as the endings of such articles do.</p></div></div></body></html>");
  for (const char* want : {"The opening row", "Pellets paragraph 4", "Pumps paragraph 4", "The closing row"})
    EXPECT_NE(rows.item.body.find(want), std::string::npos) << want << " missing from " << rows.item.body;
}

// Columns inside the text, one of them a table of contents: the column of
// text stays, the links go.
TEST(AutoExtractTest, AColumnOfTextBesideLinksStays) {
  std::string toc;
  for (int i = 1; i <= 8; ++i)
    toc += "<li><a href=#s" + std::to_string(i) + ">" + std::to_string(i) + " A section about the harbour and its "
           "boats</a></li>";
  Extracted e = Extract("<html><body><div class=text>" + Story("Harbour") + "<div class=columns><div class=column>"
                        "<h2>In short</h2><ul><li>The harbour reopens on Monday, after a winter of repairs.</li>"
                        "<li>The ferries keep their timetable, the fishermen their quays, and the yard its "
                        "boats.</li><li>Visitors may walk the new pier from noon to dusk, every day of the week."
                        "</li><li>The old lighthouse, closed since the storm, opens again in the summer, with a small museum.</li>"
                        "</ul></div><div class=column><ul class=contents>" + toc + "</ul></div></div>" +
                        Story("Quay") + "</div></body></html>");
  EXPECT_NE(e.item.body.find("Visitors may walk the new pier"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("A section about"), std::string::npos) << e.item.body;
  EXPECT_NE(e.item.body.find("Quay paragraph 4"), std::string::npos) << e.item.body;
}

// Names made of headings or layouts are no furniture when they hold pages
// of running text; comments stay out however long they are.
TEST(AutoExtractTest, LongTextIsKeptWhateverItsName) {
  std::string comments;
  for (int i = 0; i < 6; ++i)
    comments += "<div class=comment-body><p>Reader " + std::to_string(i) + " says: a fine harbour, with a "
                "comma, a long opinion, many words about boats and a full stop at the end of it all.</p></div>";
  Extracted e = Extract("<html><body><article class=post>" + Story("Harbour") +
                        "<section id=sharing-the-quays-with-the-ferries>" + Story("Ferry") + Story("Quay") +
                        Story("Yard") + Story("Pier") + Story("Boat") + "</section><div class=comments>" + comments +
                        "</div></article></body></html>");
  EXPECT_NE(e.item.body.find("Ferry paragraph 1"), std::string::npos) << e.item.body;
  EXPECT_NE(e.item.body.find("Boat paragraph 4"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("Reader"), std::string::npos) << e.item.body;
}

// "Read also:" before nothing but links goes with them; a heading that
// text follows stays, however many such lines there are.
TEST(AutoExtractTest, ALineIntroducingOnlyLinksGoesWithThem) {
  const std::string links = "<ul><li><a href=/1>Another story with a long headline that is a link</a></li>"
                            "<li><a href=/2>And one more story with a long headline</a></li></ul>";
  Extracted e = Extract("<html><body><div class=text>" + Story("Harbour") + "<h3>Background:</h3>" +
                        Story("Quay") + "<p><strong>Read also:</strong></p>" + links + "<h3>More topics?</h3>" +
                        "</div></body></html>");
  EXPECT_NE(e.item.body.find("Background:"), std::string::npos) << e.item.body;
  EXPECT_NE(e.item.body.find("Quay paragraph 4"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("Read also"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("More topics"), std::string::npos) << e.item.body;
  // Paragraphs of no-break spaces that space the links out are no text after them.
  e = Extract("<html><body><div class=text>" + Story("Harbour") + "<p>&nbsp;</p><p><strong>Read also:</strong></p>" +
              links + "<p>&nbsp;</p><p>\xC2\xA0 &nbsp;</p></div></body></html>");
  EXPECT_NE(e.item.body.find("Harbour paragraph 4"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("Read also"), std::string::npos) << e.item.body;
  // Words that send the reader to other articles: the line goes whatever follows it.
  e = Extract("<html><body><div class=text>" + Story("Harbour") + "<p>Lesen Sie auch die folgenden Beiträge:</p>" +
              "<p><img src=/teaser.jpg></p>" + Story("Quay") + "<p><b>Zum Weiterlesen:</b></p>" + Story("Pier") +
              "</div></body></html>");
  EXPECT_NE(e.item.body.find("Quay paragraph 4"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("Lesen Sie auch"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("Zum Weiterlesen"), std::string::npos) << e.item.body;
  std::string lines;
  for (int i = 0; i < 1000; ++i) lines += "<p>Note " + std::to_string(i) + ":</p>";
  e = Extract("<html><body><div class=text>" + Story("Harbour") + lines + Story("Quay") + "</div></body></html>");
  EXPECT_NE(e.item.body.find("Note 999:"), std::string::npos);
  EXPECT_NE(e.item.body.find("Quay paragraph 4"), std::string::npos);
}

// Class names are read for what they say the element is: "has-sidebar" is
// a layout with a sidebar somewhere in it, "related-articles" a list of
// other articles however plain its teasers, "infobox" a fact box of the text.
TEST(AutoExtractTest, ClassNamesSayWhatTheElementIsNotWhatItHolds) {
  std::string teasers;
  for (int i = 1; i <= 4; ++i)
    teasers += "<div class=teaser-card><h2><a href=/other/" + std::to_string(i) + ">Another story " +
               std::to_string(i) + "</a></h2><p>Teaser " + std::to_string(i) +
               " of another story, told in a few plain sentences, with commas, so that it reads like text, "
               "and then some more words about boats and trains and the weather...</p></div>";
  const std::string sidebar = "<aside class=sidebar><a href=/a>Most read</a> <a href=/b>Archive</a></aside>";
  Extracted e = Extract("<html><body><div class='layout-container has-sidebar'>" + sidebar +
                        "<div class=region><div class=paragraphs><div class=paragraph>" + Story("Harbour") +
                        "</div><div class='paragraph paragraph--type--recommended-articles'>" + teasers +
                        "</div></div></div></div></body></html>");
  EXPECT_NE(e.item.body.find("Harbour paragraph 4"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("Teaser 1"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("Most read"), std::string::npos) << e.item.body;
  e = Extract("<html><body><div class=article-body>" + Story("Harbour") + "<div class=related-articles>" + teasers +
              teasers + "</div></div></body></html>");
  EXPECT_NE(e.item.body.find("Harbour paragraph 4"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("Teaser 1"), std::string::npos) << e.item.body;
  e = Extract("<html><body><div class=article-body>" + Story("Harbour") +
              "<div class=infobox><p>The harbour in figures: 40 quays, 12 cranes, two ferries a day.</p></div>" +
              Story("Quay") + "</div></body></html>");
  EXPECT_NE(e.item.body.find("40 quays"), std::string::npos) << e.item.body;
  EXPECT_NE(e.item.body.find("Quay paragraph 4"), std::string::npos) << e.item.body;
  // A text's steps named for their printing are the text; what is not
  // printed is furniture.
  std::string steps;
  for (const char* word : {"Wash", "Cut", "Salt"}) steps += "<div class=tip-print-step>" + Story(word) + "</div>";
  e = Extract("<html><body><div class=tip>" + steps + "<div class='box noprint'><p>Um den Tipp zu kommentieren, "
              "melden Sie sich an, mit Ihrem Namen, Ihrer Adresse und einem Passwort.</p></div></div></body></html>");
  EXPECT_NE(e.item.body.find("Wash paragraph 1"), std::string::npos) << e.item.body;
  EXPECT_NE(e.item.body.find("Salt paragraph 4"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("Um den Tipp"), std::string::npos) << e.item.body;
}

// A wrapper that holds most of the page's text is the page, whatever its
// name or tag: a menu library's page wrapper, a layout named after its
// sidebar, a form around everything. The furniture inside it stays out.
TEST(AutoExtractTest, AWrapperHoldingMostOfThePageIsThePage) {
  const std::string comments = "<div class=comments><p>Reader says: a fine harbour, with a comma, a long opinion, "
                               "many words about boats and a full stop at the end.</p></div>";
  const std::string menu = "<ul class=menu><li><a href=/a>World</a></li><li><a href=/b>Sport</a></li></ul>";
  for (const std::string& open : {std::string("<div class=mmenu-pagewrapper>"),
                                  std::string("<div class='container layout-right-sidebar'>"),
                                  std::string("<form id=aspnetForm action=/news.aspx>")}) {
    const std::string close = open[1] == 'f' ? "</form>" : "</div>";
    Extracted e = Extract("<html><body>" + open + menu + "<div class=story>" + Story("Harbour") + Story("Quay") +
                          comments +
                          "</div>" + close + "</body></html>");
    EXPECT_NE(e.item.body.find("Harbour paragraph 4"), std::string::npos) << open << e.item.body;
    EXPECT_EQ(e.item.body.find("Reader says"), std::string::npos) << open << e.item.body;
  }
  // Nor does such a form go inside a block that holds it.
  Extracted e = Extract("<html><body><div id=page>" + Story("Harbour") + "<form id=aspnetForm>" + Story("Quay") +
                        Story("Pier") + "</form></div></body></html>");
  EXPECT_NE(e.item.body.find("Harbour paragraph 1"), std::string::npos) << e.item.body;
  EXPECT_NE(e.item.body.find("Pier paragraph 4"), std::string::npos) << e.item.body;
  // The rest of a text behind a "read more" button is the text.
  e = Extract("<html><body><div class=story>" + Story("Harbour") + "<div class=read-more-content>" +
                        Story("Quay") + Story("Pier") + "</div></div></body></html>");
  EXPECT_NE(e.item.body.find("Pier paragraph 4"), std::string::npos) << e.item.body;
}

// The box about the writer under a short article is a biography: it neither
// outweighs the text nor joins it, whether it stands beside the article or in it.
TEST(AutoExtractTest, TheBoxAboutTheAuthorIsNoPartOfTheText) {
  const std::string text = "<p>The harbour reopens today, after two years of works, with new quays and cranes.</p>"
                           "<p>Boats may berth again from noon, the harbour master said, with a smile.</p>";
  std::string bio;
  for (int i = 1; i <= 3; ++i)
    bio += "<p>Ann Lee, born 1983, has written for us since 2015, on ports, ships, trade and the sea; " +
           std::string("she studied history, German and economics at the university of Greifswald.</p>");
  Extracted e = Extract("<html><body><article><div class=content>" + text + "</div>"
                        "<div class=box><h2><span>Autor:innen</span></h2><div class=cols><a href=/ann>Ann Lee</a>"
                        "<div class=content>" + bio + "</div></div></div></article></body></html>");
  EXPECT_NE(e.item.body.find("Boats may berth again"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("born 1983"), std::string::npos) << e.item.body;
  e = Extract("<html><body><div class=text>" + text + "<h3>About the author</h3>" + bio +
              "<h3>Where to park</h3><p>Cars wait at the old station, from where a bus runs to the quays.</p>"
              "</div></body></html>");
  EXPECT_NE(e.item.body.find("Boats may berth again"), std::string::npos) << e.item.body;
  EXPECT_NE(e.item.body.find("Cars wait at the old station"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("born 1983"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("About the author"), std::string::npos) << e.item.body;
  // A label in a paragraph of its own heads the box too; a heading "Author"
  // over a whole text is no box.
  e = Extract("<html><body><div class=text>" + Story("Harbour") + "<div class=author_section><p class=title>About "
              "the author</p><p class=description>" + bio + "</p></div></div></body></html>");
  EXPECT_NE(e.item.body.find("Harbour paragraph 4"), std::string::npos) << e.item.body;
  EXPECT_EQ(e.item.body.find("born 1983"), std::string::npos) << e.item.body;
  e = Extract("<html><body><div class=text><h2>Author</h2>" + Story("Harbour") + Story("Quay") + Story("Pier") +
              Story("Yard") + "</div></body></html>");
  EXPECT_NE(e.item.body.find("Harbour paragraph 1"), std::string::npos) << e.item.body;
  EXPECT_NE(e.item.body.find("Yard paragraph 4"), std::string::npos) << e.item.body;
}

// Captions and credits of pictures that stand outside a figure are the
// picture's, not the text's.
TEST(AutoExtractTest, CaptionsOutsideAFigureStayOutOfTheText) {
  Extracted e = Extract("<html><body><div class=text>" + Story("Harbour") +
                        "<p class=image><img src=/quay.jpg><span class=caption>The quay at dawn, with the first "
                        "ferry in.</span> <span class=credits>Photo: Ann Lee</span></p><p class=photo-credit>"
                        "AFP / JOHN DOE</p>" + Story("Quay") + "</div></body></html>");
  EXPECT_NE(e.item.body.find("Quay paragraph 4"), std::string::npos) << e.item.body;
  EXPECT_NE(e.item.body.find("[[{0}]]"), std::string::npos) << e.item.body;
  for (const char* credit : {"The quay at dawn", "Ann Lee", "JOHN DOE"})
    EXPECT_EQ(e.item.body.find(credit), std::string::npos) << credit << " in " << e.item.body;
  // Unnamed, told by the copyright sign under the picture; text after a
  // picture without one is text.
  e = Extract("<html><body><div class=text>" + Story("Harbour") +
              "<a href=/big.jpg><picture><img src=/quay.jpg></picture></a><div class=note>The quay at dawn, before the first "
              "ferry of the day came in. | &copy; Ann Lee</div><p><img src=/ferry.jpg></p><p>The ferry came in at seven, as every day.</p>" +
              Story("Quay") + "</div></body></html>");
  EXPECT_EQ(e.item.body.find("The quay at dawn"), std::string::npos) << e.item.body;
  EXPECT_NE(e.item.body.find("The ferry came in at seven"), std::string::npos) << e.item.body;
  EXPECT_NE(e.item.body.find("[[{1}]]"), std::string::npos) << e.item.body;
}

TEST(AutoExtractTest, SoftHyphensLeaveTheWordsWhole) {
  Extracted e = Extract("<html><body><div class=text>" + Story("Harbour") +
                        "<p>Ann Kiess&shy;ling hat vie&shy;le wich&shy;ti\xC2\xADge Ent&shy;de&shy;ckun&shy;gen "
                        "gemacht, &shy; sagt man.</p></div></body></html>");
  EXPECT_NE(e.item.body.find("Ann Kiessling hat viele wichtige Entdeckungen gemacht, sagt man."), std::string::npos)
      << e.item.body;
  EXPECT_EQ(e.item.body.find("\xC2\xAD"), std::string::npos);
}

TEST(AutoExtractTest, PicturesFromSrcsetAndWithoutLoadImagesAsTheMaskWalkGivesThem) {
  std::string page = "<html><body><div class=content>" + Story("Picture") +
                     "<img srcset='/s.jpg 320w, /l.jpg 1024w, /m.jpg 640w'><p>Between, with a comma, and words.</p>"
                     "<img src='/second.jpg'><img src='/pixel.png' width=1 height=1></div></body></html>";
  Extracted e = Extract(page);
  ASSERT_EQ(e.item.images.size(), 2u);
  EXPECT_EQ(e.item.images[0].source, "http://site.test/l.jpg");
  EXPECT_EQ(e.item.images[1].source, "http://site.test/second.jpg");
  EXPECT_NE(e.item.body.find("[[{1}]]"), std::string::npos);
  // LoadImages 0: every placeholder the same number, one record, as AddImage does.
  Extracted off = Extract(page, false);
  ASSERT_EQ(off.item.images.size(), 1u);
  EXPECT_EQ(off.item.body.find("[[{1}]]"), std::string::npos);
  EXPECT_NE(off.item.body.find("[[{0}]]"), std::string::npos);
}

TEST(AutoExtractTest, BadInputGivesNoItemAndNoCrash) {
  for (const std::string& page :
       {std::string(), std::string("<html><body></body></html>"),
        std::string("<html><frameset><frame src=a.html><frame src=b.html></frameset></html>"),
        std::string("<html><body><ul><li><a href=/1>One story headline here</a></li><li><a href=/2>Another "
                    "story headline</a></li><li><a href=/3>A third story headline, with a comma</a></li></ul>"
                    "</body></html>"),
        std::string("<html><body><div><img src=/only.jpg></div></body></html>")}) {
    Extracted e = Extract(page);
    EXPECT_FALSE(e.result.found) << page;
    EXPECT_TRUE(e.item.body.empty()) << page;
    EXPECT_TRUE(e.item.images.empty()) << page;
  }
}

TEST(AutoExtractTest, TenMegabytesInOneElementAreCutLikeAnyBody) {
  std::string big(10u << 20, 'x');
  for (size_t i = 50; i < big.size(); i += 60) big[i] = ' ';
  Extracted e = Extract("<html><body><div><p>" + big + "</p></div></body></html>");
  ASSERT_TRUE(e.result.found);
  EXPECT_EQ(e.item.body.size(), kMaxBodyChars);
}

// A title of megabytes, cut into pieces by separators everywhere, is read
// once over, not once per piece.
TEST(AutoExtractTest, HugeTitlesFullOfSeparatorsAreReadInBoundedTime) {
  std::string title;
  for (int i = 0; i < 400000; ++i) title += "ab c | ";
  HtmlDocument page = HtmlDocument::Parse("<html><head><title>" + title + "</title></head><body><h1>Story</h1>"
                                          "<h2>Other</h2><h3>x y z</h3></body></html>");
  std::string t = AutoTitle(page);
  EXPECT_EQ(t.rfind("ab c", 0), 0u);
}

// Thousands of nested bylines, headlines and dates, each holding all the
// text below it: every piece reads a bounded number of them.
TEST(AutoExtractTest, NestedCandidatesAreNotReadOverAndOver) {
  std::string text(500, 'a'), open, close;
  for (size_t i = 0; i < text.size(); i += 20) text[i] = ',';
  for (int i = 0; i < 2000; ++i) {
    open += std::string(i % 2 ? "<span class=author itemprop=author>" : "<time><span class=byline>") + text;
    close += i % 2 ? "</span>" : "</span></time>";
  }
  Extracted e = Extract("<html><body><h1 class=headline>" + open + close + "</h1><div>" + open + close +
                        "</div></body></html>");
  ASSERT_TRUE(e.result.found);
  EXPECT_EQ(e.item.body.size(), kMaxBodyChars);
  EXPECT_EQ(e.item.author, "");
}

TEST(AutoExtractTest, DeepNestingIsReadWithoutExhaustingTheStack) {
  std::string open, close;
  for (int i = 0; i < 5000; ++i) {
    open += "<div>";
    close += "</div>";
  }
  Extracted e = Extract("<html><body>" + open + Story("Deep") + close + "</body></html>");
  EXPECT_TRUE(e.result.found);
  EXPECT_NE(e.item.body.find("Deep paragraph 4"), std::string::npos);
}

TEST(AutoExtractTest, TitleAuthorAndDateFromTheirUsualPlaces) {
  auto page = [](const std::string& head, const std::string& body) {
    return HtmlDocument::Parse("<html><head>" + head + "</head><body>" + body + "</body></html>", "http://s.test/");
  };
  // The site's name goes; a headline the title repeats wins.
  EXPECT_EQ(AutoTitle(page("<title>Rain at last – Weather Weekly</title>", "")), "Rain at last");
  // Of two headings the title repeats, the one that is the title without the site's name.
  EXPECT_EQ(AutoTitle(page("<title>Rain at last, and floods | Site</title>",
                           "<h1>Site</h1><h2>Rain at last, and floods</h2>")),
            "Rain at last, and floods");
  EXPECT_EQ(AutoTitle(page("<meta property=og:title content='From og'><title>T</title>", "")), "From og");
  EXPECT_EQ(AutoAuthor(page("", "<span itemprop=author><span itemprop=name>Jo Bloggs</span></span>")), "Jo Bloggs");
  EXPECT_EQ(AutoAuthor(page("<meta name=author content='Von Kim Berg'>", "")), "Kim Berg");
  EXPECT_EQ(AutoAuthor(page("<script type='application/ld+json'>{\"@type\":\"NewsArticle\",\"author\":"
                            "[{\"@type\":\"Person\",\"name\":\"A. One\"},{\"name\":\"B. Two\"}]}</script>",
                            "")),
            "A. One, B. Two");
  EXPECT_EQ(AutoAuthor(page("<meta name=author content='https://example.test/staff'>", "")), "");
  EXPECT_EQ(AutoDate(page("", "<time datetime='2023-12-07'>7 Dec</time>")), DateTime::Make(2023, 12, 7));
  EXPECT_EQ(AutoDate(page("", "<time>07.12.2023</time>")), DateTime::Make(2023, 12, 7));
  DateTime d;
  EXPECT_FALSE(ParseIsoDate("2023-13-01", d));
  EXPECT_FALSE(ParseIsoDate("soon", d));
}

// Pages that only show their date: in elements named for it, in several
// languages and orders, with the time of day when it is there; the hAtom
// title and the page's address; never a commenter's date or a reading time.
TEST(AutoExtractTest, TheDateAPageShows) {
  auto date = [](const std::string& body, const std::string& url = "http://s.test/news/1.html") {
    return AutoDate(HtmlDocument::Parse("<html><body><h1>Rain</h1>" + body + "<p>Text.</p></body></html>", url));
  };
  EXPECT_EQ(date("<span class=date>21.10.2019</span>"), DateTime::Make(2019, 10, 21));
  EXPECT_EQ(date("<div class=article-date>5. M\xC3\xA4rz 2024, 14:30 Uhr</div>"), DateTime::Make(2024, 3, 5, 14, 30));
  EXPECT_EQ(date("<p class=entry-meta>Posted on March 5th, 2024 by Ann</p>"), DateTime::Make(2024, 3, 5));
  EXPECT_EQ(date("<p class=byline>Publi\xC3\xA9 le 3 mars 2024 \xC3\xA0 10h00</p>"), DateTime::Make(2024, 3, 3, 10, 0));
  EXPECT_EQ(date("<div class=post-author>Autor: Bo am 29.12.2010, 13:36 Uhr</div>"),
            DateTime::Make(2010, 12, 29, 13, 36));
  EXPECT_EQ(date("<span class=fecha>12 de mayo de 2021</span>"), DateTime());  // "de" between: not read
  EXPECT_EQ(date("<time>05.03.2024 14:30</time>"), DateTime::Make(2024, 3, 5, 14, 30));
  EXPECT_EQ(date("<span class=updated title='2013-04-04T18:52:11+00:00'></span>"), DateTime::Make(2013, 4, 4, 18, 52, 11));
  EXPECT_EQ(date("", "http://s.test/2014/05/18/moving-house/"), DateTime::Make(2014, 5, 18));
  EXPECT_EQ(date("", "http://s.test/2014/05/182/"), DateTime());
  // The comments' dates are the commenters'; the article's comes after them here.
  EXPECT_EQ(date("<div class=comments><span class=date>01.01.2020</span></div><span class=date>05.03.2024</span>"),
            DateTime::Make(2024, 3, 5));
  // Unnamed, the date beside the headline: under it, or else above it, over
  // a named date of another story further away.
  EXPECT_EQ(date("<p><em>10.11.2021</em></p>"), DateTime::Make(2021, 11, 10));
  EXPECT_EQ(date("<div class=doc><span>Stand:</span> <span>18.10.2021</span></div>"), DateTime::Make(2021, 10, 18));
  EXPECT_EQ(AutoDate(HtmlDocument::Parse("<html><body><div class=teaser><span class=date>01.01.2020</span> <a "
                                         "href=/o>Older story</a></div><h3>21.01.2022</h3><h1>Rain</h1><p>Text.</p>"
                                         "</body></html>",
                                         "http://s.test/news/1.html")),
            DateTime::Make(2022, 1, 21));
  // Numbers that are no dates.
  EXPECT_EQ(date("<span class=read-time>5 min read</span><span class=date>Updated 3 hours ago</span>"), DateTime());
  EXPECT_EQ(date("<span class=date>33.13.2020</span><span class=meta>Tel. 030 12 34 56, 10-12 Uhr</span>"),
            DateTime());
}

TEST(AutoExtractTest, BlogTitlesAndBylinesAsReadersSeeThem) {
  auto page = [](const std::string& head, const std::string& body) {
    return HtmlDocument::Parse("<html><head>" + head + "</head><body>" + body + "</body></html>", "http://s.test/");
  };
  // A blog: the site's name in the only first-level heading and in the
  // title, the post's headline in a third-level one.
  EXPECT_EQ(AutoTitle(page("<title>Ins neue Jahr | Literaturblog</title><meta property=og:title content='Ins neue Jahr'>",
                           "<h1 id=header>Literaturblog</h1><h3 class=storytitle><a href=/p>Ins neue Jahr</a></h3>")),
            "Ins neue Jahr");
  EXPECT_EQ(AutoTitle(page("<title>The strangest music video of all :  Crime Blog Archive | Since 2005</title>",
                           "<h1 class='vcard author'>Crime Blog Archive</h1>"
                           "<h3 class=entry-title>The strangest music video of all</h3><h3>Comments</h3>")),
            "The strangest music video of all");
  // Picture credits, publication notes and software accounts are no authors.
  EXPECT_EQ(AutoAuthor(page("", "<p class=author>Foto: Ingo Schneider</p><span class=byline>Veröffentlicht am 3.2.</span>")),
            "");
  EXPECT_EQ(AutoAuthor(page("<meta name=author content='admin'>", "")), "");
  EXPECT_EQ(AutoAuthor(page("", "<byline>Von David Hutzler, dpa</byline>")), "David Hutzler");
  EXPECT_EQ(AutoAuthor(page("", "<div class=byline>Disko Von Ernst Lohoff</div>")), "Ernst Lohoff");
  EXPECT_EQ(AutoAuthor(page("", "<div class=author>by: Ann Lee @annlee</div>")), "Ann Lee");
  EXPECT_EQ(AutoAuthor(page("", "<span class=author>Redaktion: Eberhard Fuhr (Pressesprecher)</span>")), "Eberhard Fuhr");
  // A structured-data graph names the author by reference to a person.
  EXPECT_EQ(AutoAuthor(page("<script type='application/ld+json'>{\"@graph\":[{\"@type\":\"Article\",\"author\":"
                            "{\"@id\":\"#p1\"}},{\"@type\":\"Person\",\"@id\":\"#p1\",\"name\":\"Evan Symon\"}]}"
                            "</script>",
                            "")),
            "Evan Symon");
}

// Headline pages as news sites set them: the title texts name the headline
// and the site, the headings name the headline, a kicker, the site's logo.
TEST(AutoExtractTest, TitleIsTheHeadingThatTheTitleTextsAgreeWith) {
  auto page = [](const std::string& head, const std::string& body) {
    return HtmlDocument::Parse("<html><head>" + head + "</head><body>" + body + "</body></html>",
                               "http://www.paper.test/a/1.html");
  };
  // Typographic quotes in the heading, plain ones in the title: the heading as written.
  EXPECT_EQ(AutoTitle(page("<title>A strike, and lots of actions - Paper</title>",
                           "<h1>A strike, and lots of \xE2\x80\x98" "actions\xE2\x80\x99</h1><h2>More</h2><h2>Other</h2>")),
            "A strike, and lots of \xE2\x80\x98" "actions\xE2\x80\x99");
  // A headline shorter than the site's name after it is still the headline.
  EXPECT_EQ(AutoTitle(page("<title>Fair supply chains - Protestant Youth Work in the South (pyw) - PYW</title>",
                           "<h1>Fair supply chains</h1>")),
            "Fair supply chains");
  EXPECT_EQ(AutoTitle(page("<title>Fair chains - Protestant Youth Work in the South - PYW</title>"
                           "<meta property=og:site_name content='Protestant Youth Work in the South'>",
                           "<h1>Fair chains</h1><h2>Background</h2>")),
            "Fair chains");
  // A title that is site, section and headline; the site's name in the first heading.
  EXPECT_EQ(AutoTitle(page("<title>Time for talks \xC2\xBB Blog Archive \xC2\xBB More cinemas go digital</title>",
                           "<h1>Time for talks</h1><h2 class=widgettitle>Links</h2><h2>More cinemas go digital</h2>")),
            "More cinemas go digital");
  // A breadcrumb heading repeats the title; the heading named the headline says what og:title says.
  EXPECT_EQ(AutoTitle(page("<title>North: The ruler is back, and happy | Politics</title>"
                           "<meta property=og:title content='The ruler is back - and the neighbour is happy'>",
                           "<ol class=crumbs><li><h1>North: The ruler is back, and happy</h1></ol>"
                           "<h2 class=article-headline>The ruler is back - and the neighbour is happy</h2>")),
            "The ruler is back - and the neighbour is happy");
  // A heading that goes on with the site's name.
  EXPECT_EQ(AutoTitle(page("<meta property=og:title content='What we will not hear about us'>",
                           "<h1 class=title>What we will not hear about us | OTHER.NET</h1><h2>Topics</h2>")),
            "What we will not hear about us");
  // A heading that is one link to the home page names the site, however long.
  EXPECT_EQ(AutoTitle(page("<title>The quay | Harbour Voices of the Northern Coast</title>",
                           "<h2><a href='http://www.paper.test/'>Harbour Voices of the Northern Coast</a></h2>"
                           "<h1>The quay</h1><h2>More</h2>")),
            "The quay");
  // The logo's heading is no headline, nor is a heading that is the site's host.
  EXPECT_EQ(AutoTitle(page("<title>Paper</title>", "<h1 class=site-logo>Paper Daily</h1><h2>PAPER.test</h2>"
                                                   "<h1>Harbour opens its new quay</h1>")),
            "Harbour opens its new quay");
  // A heading that goes on with a subline after a break: the line the title says.
  EXPECT_EQ(AutoTitle(page("<title>Rain at last in the valley | Paper</title>",
                           "<h1>Rain at last in the valley<br><small>Farmers are glad</small></h1>")),
            "Rain at last in the valley");
  // A headline broken over two lines by the layout is read whole.
  EXPECT_EQ(AutoTitle(page("<title>Rain at last in the valley | Paper</title>",
                           "<h1>Rain at last<br>in the valley</h1>")),
            "Rain at last in the valley");
}

// Pages without a heading that their title texts repeat: the headline from
// what the head says, without the site's and the section's names.
TEST(AutoExtractTest, TitleFromTheHeadWhenNoHeadingSaysIt) {
  auto page = [](const std::string& head) {
    return HtmlDocument::Parse("<html><head>" + head + "</head><body><p>Text.</p></body></html>",
                               "http://www.paper.test/a/1.html");
  };
  EXPECT_EQ(AutoTitle(page("<title>Rain at last in the valley - Weather - The Paper</title>")),
            "Rain at last in the valley");
  EXPECT_EQ(AutoTitle(page("<title>Rain at last in the valley | Weather | The Paper</title>")),
            "Rain at last in the valley");
  // A second part that is no section's name stays.
  EXPECT_EQ(AutoTitle(page("<title>Rain at last - the farmers of the valley are glad at last | The Paper</title>")),
            "Rain at last - the farmers of the valley are glad at last");
  // Structured data's headline over a title that names the site.
  EXPECT_EQ(AutoTitle(page("<title>The Paper - News</title><script type='application/ld+json'>"
                           "{\"@type\":\"NewsArticle\",\"headline\":\"Rain at last in the valley\"}</script>")),
            "Rain at last in the valley");
}

TEST(AutoExtractTest, TitleWithoutTheKickerItsHeadingHolds) {
  auto page = [](const std::string& head, const std::string& body) {
    return HtmlDocument::Parse("<html><head>" + head + "</head><body>" + body + "</body></html>",
                               "http://www.paper.test/a/1.html");
  };
  // og:title says the headline without the kicker.
  EXPECT_EQ(AutoTitle(page("<meta property=og:title content='Retention of title: what buyers should know'>",
                           "<h1 class=entry-title><span class=toptitle>Avoid losses</span> "
                           "Retention of title: what buyers should know</h1><h2>Section</h2><h2>Other</h2>")),
            "Retention of title: what buyers should know");
  // The title says "Topic: Headline", the heading "Kicker Headline".
  EXPECT_EQ(AutoTitle(page("<title>Reopening: Car dealers expect a slow start to business | PAPER.TEST</title>",
                           "<h2>Paper Region</h2><h1><span class=dachzeile>After the reopening</span>"
                           "<span class=headline>Car dealers expect a slow start to business</span></h1>")),
            "Car dealers expect a slow start to business");
  // A kicker the markup names as such goes even where the title says nothing.
  EXPECT_EQ(AutoTitle(page("<title>Paper</title>", "<h1><span class=kicker>Harbour</span> New quay opens in May</h1>")),
            "New quay opens in May");
  // Words set apart at a heading's start stay when neither the markup nor the title says they are a kicker.
  EXPECT_EQ(AutoTitle(page("<title>Paper</title>", "<h1><em>Quay</em> opens in May</h1><h2>Other</h2>")),
            "Quay opens in May");
}

TEST(AutoExtractTest, TitleFromTheOneFirstLevelHeadingOverTheTitleInOtherWords) {
  auto page = [](const std::string& head, const std::string& body) {
    return HtmlDocument::Parse("<html><head>" + head + "</head><body>" + body + "</body></html>",
                               "http://www.paper.test/a/1.html");
  };
  // Not when it is two words, as a section's name is.
  EXPECT_EQ(AutoTitle(page("<title>Harbour opens new quay - Paper</title>", "<h1>Local news</h1><h2>Weather</h2>")),
            "Harbour opens new quay");
  EXPECT_EQ(AutoTitle(page("<title>Car finance - loan or rather leasing?</title>",
                           "<h1>Financing your car</h1><h2>Loan comparison</h2><h2>What leasing costs</h2>")),
            "Financing your car");
  // The title is only the site's name; the headline the one first-level heading.
  EXPECT_EQ(AutoTitle(page("<title>.:: PAPER-MEDIA ::. Templates and designs</title>"
                           "<meta property=og:site_name content='.:: PAPER-MEDIA ::. Templates and designs'>",
                           "<h2>Shop</h2><h1 itemprop=headline>Privacy changes to our templates</h1>")),
            "Privacy changes to our templates");
  // A title of section and site (the site's name as its logo says it): the
  // heading named the headline, not a first-level heading of search words.
  EXPECT_EQ(AutoTitle(page("<title>blog | Harbour Voices</title>",
                           "<h1 id=site-title><a href=/>Harbour Voices</a></h1><h1>harbour voices quay shirts</h1>"
                           "<h2 class=entry-title>Dear neighbours</h2><h2 class=entry-title>Second post</h2>")),
            "Dear neighbours");
  // Two first-level headings that the title does not repeat: the title decides.
  EXPECT_EQ(AutoTitle(page("<title>Harbour news - Paper</title>", "<h1>First story</h1><h1>Second story</h1>")),
            "Harbour news");
}

TEST(AutoExtractTest, StructuredDataNamesTheArticlesAuthorNotThePicturesOrTheSite) {
  auto page = [](const std::string& json, const std::string& body = "") {
    return HtmlDocument::Parse("<html><head><script type='application/ld+json'>" + json +
                                   "</script></head><body>" + body + "</body></html>",
                               "https://news.example.test/a/1.html");
  };
  // The picture's credit comes first in the text; the article's author counts.
  EXPECT_EQ(AutoAuthor(page("{\"@type\":\"NewsArticle\",\"image\":{\"@type\":\"ImageObject\",\"author\":\"Berg\"},"
                            "\"author\":[{\"@type\":\"Person\",\"name\":\"Tom Berg\"}]}")),
            "Tom Berg");
  // The site as its own author is its publisher, not a byline.
  EXPECT_EQ(AutoAuthor(page("{\"@type\":\"Article\",\"author\":{\"@type\":\"Organization\",\"name\":\"Daily Example\"},"
                            "\"publisher\":{\"@type\":\"Organization\",\"name\":\"Daily Example\"}}")),
            "");
  EXPECT_EQ(AutoAuthor(page("{\"@type\":\"Article\",\"author\":{\"@type\":\"Organization\",\"name\":\"example.test\"}}")),
            "");
  EXPECT_EQ(AutoAuthor(page("{\"@type\":\"Article\",\"author\":{\"@type\":\"Organization\",\"name\":\"Volunteer Editors\"},"
                            "\"publisher\":{\"@type\":\"Organization\",\"name\":\"Example Foundation\"}}")),
            "Volunteer Editors");
  // Wrapped in CDATA, escaped, spread over lines, with a trailing comma.
  EXPECT_EQ(AutoAuthor(page("<![CDATA[ {\"@type\": \"BlogPosting\",\n \"author\": {\"name\": \"J\\u00e9r\\u00f4me Roy\"},} ]]>")),
            "Jérôme Roy");
  // Broken structured data gives nothing and breaks nothing.
  EXPECT_EQ(AutoAuthor(page("{\"@type\":\"Article\",\"author\":{\"name\":\"Cut Off")), "");
  EXPECT_EQ(AutoAuthor(page(std::string(5000, '[') + "\"author\"" + std::string(5000, ']'))), "");
}

TEST(AutoExtractTest, AgencyCreditsAreNamesAndPictureCreditsAreNot) {
  auto page = [](const std::string& head, const std::string& body) {
    return HtmlDocument::Parse("<html><head>" + head + "</head><body>" + body + "</body></html>", "http://s.test/");
  };
  EXPECT_EQ(AutoAuthor(page("", "<p>Von: <span itemprop=author>det/dpa</span></p>")), "det/dpa");
  EXPECT_EQ(AutoAuthor(page("<meta name=author content='MDR AKTUELL/ls'>", "")), "MDR AKTUELL/ls");
  // A domain in the meta tag is the site, whatever its ending; a doctor is a person.
  EXPECT_EQ(AutoAuthor(page("<meta name=author content='news.example.org'>", "")), "");
  EXPECT_EQ(AutoAuthor(page("<meta name=author content='Dr.Meier'>", "")), "Dr.Meier");
  EXPECT_EQ(AutoAuthor(page("<meta name=author content='example.test/staff'>", "")), "");
  // The photographer of the lead picture is not the author.
  EXPECT_EQ(AutoAuthor(page("<meta name=author content='Sarah Ash'>",
                            "<figure><img src=a.jpg><figcaption><span itemprop=creator>Ben Tess</span>"
                            "</figcaption></figure><h1>Neon</h1>")),
            "Sarah Ash");
}

TEST(AutoExtractTest, SeveralAuthorsOfOneBylineAndOrganisationsLast) {
  auto page = [](const std::string& head, const std::string& body) {
    return HtmlDocument::Parse("<html><head>" + head + "</head><body>" + body + "</body></html>", "http://s.test/");
  };
  // Marked one by one: the byline as written.
  EXPECT_EQ(AutoAuthor(page("", "<h1>Streaming</h1><ul><li rel=author><span>Von</span> <a href=/a>Ben Fischer</a> und "
                                "<a href=/b>Marc Theurer</a></li></ul><div class=author-box><a rel=author href=/a>"
                                "Ben Fischer</a></div>")),
            "Ben Fischer und Marc Theurer");
  EXPECT_EQ(AutoAuthor(page("", "<p class=by><span itemprop=author>Ann Lee</span>, <span itemprop=author>Tom Berg</span> "
                                "y <span itemprop=author>Eva Ruiz</span></p>")),
            "Ann Lee, Tom Berg y Eva Ruiz");
  // A link to the author's other pieces names the same person again.
  EXPECT_EQ(AutoAuthor(page("", "<div><a rel=author href=/l>Logan Ritch</a> <p>Logan writes features. <a rel=author "
                                "href=/l>More by Logan Ritch</a></p></div>")),
            "Logan Ritch");
  // Two articles' bylines are not one.
  EXPECT_EQ(AutoAuthor(page("", "<div><p itemprop='author creator'>Ann Lee</p><p>" + std::string(300, 'x') +
                                "</p><p itemprop=author>Tom Berg</p></div>")),
            "Ann Lee");
  // The organisation marked as author yields to a person named elsewhere.
  EXPECT_EQ(AutoAuthor(page("<meta name=dc.creator content='Eliza Gibb'>",
                            "<div itemprop=author itemscope itemtype='https://schema.org/Organization'>"
                            "<meta itemprop=name content='Nature Desk'></div>")),
            "Eliza Gibb");
  EXPECT_EQ(AutoAuthor(page("", "<div itemprop=author itemscope itemtype='https://schema.org/Organization'>"
                                "<meta itemprop=name content='Nature Desk'></div>")),
            "Nature Desk");
  // A post's own footer and a blog's "widget" hold the post's byline.
  EXPECT_EQ(AutoAuthor(page("", "<div class='widget Blog'><article><p>Text.</p><footer class=post-footer>Posted by "
                                "<a rel=author href=/g>Günter W. Kienitz</a> at 18:52</footer></article></div>")),
            "Günter W. Kienitz");
}

TEST(AutoExtractTest, BylineTextCleanedToTheName) {
  auto page = [](const std::string& body) {
    return HtmlDocument::Parse("<html><body><h1>Rain at last</h1>" + body + "</body></html>", "http://s.test/");
  };
  // Soft hyphens break a name only on screen.
  EXPECT_EQ(AutoAuthor(page("<p>Von Mat\u00ADthi\u00ADas Lau\u00ADerer</p>")), "Matthias Lauerer");
  // The name's line, not the buttons, roles or headlines on the lines after it.
  EXPECT_EQ(AutoAuthor(page("<div class=author><span>Patrick Allan</span><div>Profile</div><div>Follow</div></div>")),
            "Patrick Allan");
  EXPECT_EQ(AutoAuthor(page("<div class=byline>By\n\t\t<span>Scott Cunning</span></div>")), "Scott Cunning");
  // The date, the time ago and the next field's label go; a handle with a digit stays.
  EXPECT_EQ(AutoAuthor(page("<div class=author>Jane Doe 12 hours ago</div>")), "Jane Doe");
  EXPECT_EQ(AutoAuthor(page("<div class=author>R. England, 52m ago</div>")), "R. England");
  EXPECT_EQ(AutoAuthor(page("<span class=autor>Marianne1</span>")), "Marianne1");
  EXPECT_EQ(AutoAuthor(page("<span class=byline>Av Lars Berg</span>")), "Lars Berg");
  // A lower-case "von" is part of the name; a capital one begins the byline after a kicker.
  EXPECT_EQ(AutoAuthor(page("<span class=author>Christoph von Ritter</span>")), "Christoph von Ritter");
  EXPECT_EQ(AutoAuthor(page("<div class=byline>Disko Von Ernst Lohoff</div>")), "Ernst Lohoff");
  // The publisher's or agency's acronym after the name goes; a second name stays.
  EXPECT_EQ(AutoAuthor(page("<span class=author>Rob Pich, CNN</span>")), "Rob Pich");
  EXPECT_EQ(AutoAuthor(page("<span class=author>Sam Ode, BBC</span>")), "Sam Ode");
  EXPECT_EQ(AutoAuthor(page("<span class=author>Ann Lee, Tom Berg</span>")), "Ann Lee, Tom Berg");
  // So do the agency written out, the writer's role and the publication that follow.
  EXPECT_EQ(AutoAuthor(page("<p class=byline>By JANE DOE, Associated Press</p>")), "JANE DOE");
  EXPECT_EQ(AutoAuthor(page("<span class=byline>Jane Doe, Senior Correspondent</span>")), "Jane Doe");
  EXPECT_EQ(AutoAuthor(page("<span class=autor>Anna Berg, Redakteurin Politik</span>")), "Anna Berg");
  EXPECT_EQ(AutoAuthor(page("<p class=signature>Par Jean Dupont, publi\xC3\xA9 le 3 mars 2024 \xC3\xA0 10h00</p>")),
            "Jean Dupont");
  EXPECT_EQ(AutoAuthor(page("<span class=author>Tom Berg, ver\xC3\xB6" "ffentlicht am 3. M\xC3\xA4rz 2024</span>")),
            "Tom Berg");
  // A byline's word without its name.
  EXPECT_EQ(AutoAuthor(page("<span itemprop=author>By</span>")), "");
  // A label is no name.
  EXPECT_EQ(AutoAuthor(page("<div class=author-date><p>Zuletzt geändert am</p><p>Montag</p></div>")), "");
  EXPECT_EQ(AutoAuthor(page("<span class=author>zahlenzauberin</span>")), "zahlenzauberin");
  // The site's name in a heading styled as an hCard; the post's hCard names the author.
  EXPECT_EQ(AutoAuthor(HtmlDocument::Parse("<html><body><h1 class='vcard author'><a class=fn href=/>Crime Blog</a>"
                                           "</h1><h3>Post</h3><h4 class='vcard author'>vom <span class=fn>Krimi"
                                           "blogger</span></h4></body></html>",
                                           "http://s.test/")),
            "Krimiblogger");
}

TEST(AutoExtractTest, TheAgencyCreditClosingTheTextWhenNoBylineIsThere) {
  const std::string story = Story("Nordkorea");
  Extracted e = Extract("<html><body><h1>Kim</h1><div class=article>" + story +
                        "<p>Die Zyste könne sich jederzeit neu bilden, hieß es. (FR mit dpa)</p></div></body></html>");
  EXPECT_EQ(e.item.author, "FR mit dpa");
  // A byline wins; a remark in brackets is no credit.
  e = Extract("<html><body><h1>Kim</h1><p class=byline>Von Anna Berg</p><div class=article>" + story +
              "<p>So war es. (dpa)</p></div></body></html>");
  EXPECT_EQ(e.item.author, "Anna Berg");
  e = Extract("<html><body><h1>Kim</h1><div class=article>" + story + "<p>Mehr dazu später (siehe unten)</p></div></body></html>");
  EXPECT_EQ(e.item.author, "");
  // The source named on a line of its own; a quotation's reference or a
  // note on figures is none.
  e = Extract("<html><body><h1>Kim</h1><div class=article>" + story +
              "<p style='text-align:right'>Quelle: <a href=http://www.kathpress.at>kathpress</a></p></div></body></html>");
  EXPECT_EQ(e.item.author, "kathpress");
  for (const char* line : {"Quelle: (<a href=https://host.test/faq>Strato</a>)", "Quelle: www.statistik.test",
                           "Source: Statistisches Bundesamt, eigene Berechnungen."}) {
    e = Extract("<html><body><h1>Kim</h1><div class=article>" + story + "<p>" + line + "</p></div></body></html>");
    EXPECT_EQ(e.item.author, "") << line;
  }
}

TEST(AutoExtractTest, AuthorsInLessCommonButStandardPlaces) {
  auto page = [](const std::string& head, const std::string& body) {
    return HtmlDocument::Parse("<html><head>" + head + "</head><body>" + body + "</body></html>", "http://s.test/");
  };
  EXPECT_EQ(AutoAuthor(page("<meta property='cXenseParse:author' content='Lisa Petri'>", "")), "Lisa Petri");
  EXPECT_EQ(AutoAuthor(page("<meta name=citation_author content='Ada Byron'>", "")), "Ada Byron");
  // The person's name a level or two below the author's element, not its whole text.
  EXPECT_EQ(AutoAuthor(page("", "<div itemprop=author itemscope itemtype='https://schema.org/Person'>Ein Bericht "
                                "<a href=/p><span itemprop=name>Eva Ruiz</span></a>, Korrespondentin</div>")),
            "Eva Ruiz");
  EXPECT_EQ(AutoAuthor(page("", "<p class=article-reporter>Jonas Kern</p>")), "Jonas Kern");
  // Near the headline: a byline after it wins over a name in the page's head.
  EXPECT_EQ(AutoAuthor(page("", "<div class=author-name>News Desk</div><h1>Rain</h1><p class=byline>Ann Lee</p>")),
            "Ann Lee");
  EXPECT_EQ(AutoAuthor(page("", "<span itemprop=author>News Desk</span><h1>Rain</h1><span itemprop=author>Ann Lee</span>")),
            "Ann Lee");
  EXPECT_EQ(AutoAuthor(page("", "<p>By News Desk</p><h1>Rain</h1><p>By Ann Lee</p>")), "Ann Lee");
  EXPECT_EQ(AutoAuthor(page("", "<p class=byline>Ann Lee</p><h1>Rain</h1><p>Text.</p>")), "Ann Lee");
}

TEST(AutoExtractTest, BylinesOfOtherArticlesAndOfCommentersAreNotTheAuthors) {
  auto page = [](const std::string& body) {
    return HtmlDocument::Parse("<html><body>" + body + "</body></html>", "http://s.test/");
  };
  // A teaser links a headline and its byline to another article.
  EXPECT_EQ(AutoAuthor(page("<h1>Rain</h1><p>Text of the piece.</p><ul><li><a href=/2><h3>Snow in the hills, and the roads are closed "
                            "for the rest of the week</h3><span class=author>Von Clara Berg</span></a></li></ul>")),
            "");
  EXPECT_EQ(AutoAuthor(page("<div class='related-articles'><div class=author-name>Ann Lee</div></div>")), "");
  EXPECT_EQ(AutoAuthor(page("<aside><span class=byline>Ann Lee</span></aside>")), "");
  // The layout's classes on the body and "has-sidebar" on a wrapper name no teaser.
  HtmlDocument laid_out = HtmlDocument::Parse(
      "<html><body class='single content-sidebar-active'><div class='layout has-sidebar'>"
      "<div class=post-author>Joe S.</div></div></body></html>",
      "http://s.test/");
  EXPECT_EQ(AutoAuthor(laid_out), "Joe S.");
  // "By" lines in the comments name the commenters.
  EXPECT_EQ(AutoAuthor(page("<h1>Rain</h1><div id=comments><p>Posted by Tom Reader</p></div>")), "");
}

TEST(AutoExtractTest, BylinesReadFromTheirWordsWhenNoMarkupNamesThem) {
  auto page = [](const std::string& body) {
    return HtmlDocument::Parse("<html><body><h1>Rain at last</h1>" + body + "</body></html>", "http://s.test/");
  };
  EXPECT_EQ(AutoAuthor(page("<p>Von <strong><a href=/a>Roland Berg</a></strong> und <a href=/b>Sebastian Dorn</a>"
                            "<br>Kakuma</p><p>The text begins.</p>")),
            "Roland Berg und Sebastian Dorn");
  EXPECT_EQ(AutoAuthor(page("<span class=category>Posted by Konstantin</span>")), "Konstantin");
  EXPECT_EQ(AutoAuthor(page("<li class=submitted><span>Author: <a href=/g>Gàbor Muniér</a>, Datum: 03.Mär.19</span>")),
            "Gàbor Muniér");
  EXPECT_EQ(AutoAuthor(page("<p class=date>By JEFFREY GETTLE JAN. 13, 2017</p>")), "JEFFREY GETTLE");
  EXPECT_EQ(AutoAuthor(page("<p><em>Quelle: MDR AKTUELL/ls</em></p>")), "MDR AKTUELL/ls");
  EXPECT_EQ(AutoAuthor(page("<div class=timedata>05.02.2020 <span>- Redaktion: Eberhard Fuhr (Sprecher)</span></div>")),
            "Eberhard Fuhr");
  EXPECT_EQ(AutoAuthor(page("<h2>Stars <span>06.11.2023 13:30 von Olga </span></h2>")), "Olga");
  EXPECT_EQ(AutoAuthor(page("<p>By Arun Sai Krishnan • March 1</p>")), "Arun Sai Krishnan");
  // The word in an element of its own, the name beside it.
  EXPECT_EQ(AutoAuthor(page("<p><span>By</span> <a href=/p/al>Ann Lee</a> <time>May 2</time></p>")), "Ann Lee");
  EXPECT_EQ(AutoAuthor(page("<div><strong>Von:</strong> <em>Tom Berg</em></div>")), "Tom Berg");
  EXPECT_EQ(AutoAuthor(page("<p>By: Ann Lee, May 2</p>")), "Ann Lee");
  EXPECT_EQ(AutoAuthor(page("<p>Story by Tom Berg</p>")), "Tom Berg");
  // After the word of a publication and its date.
  EXPECT_EQ(AutoAuthor(page("<div class=meta>Posted on <time>May 2, 2024</time> by <a href=/u/al>Ann Lee</a></div>")),
            "Ann Lee");
  EXPECT_EQ(AutoAuthor(page("<p class=info>Published on 3 May 2024 by Ann Lee</p>")), "Ann Lee");
  // The writer's credit before the photographer's.
  EXPECT_EQ(AutoAuthor(page("<p>Text: Ann Lee / Fotos: Tom Berg</p>")), "Ann Lee");
  // A byline's label and name in elements side by side, no space between.
  EXPECT_EQ(AutoAuthor(page("<div class=autor><span>Autor:</span><span>Ann Lee</span></div>")), "Ann Lee");
  // Lines that only begin like a byline.
  EXPECT_EQ(AutoAuthor(page("<p>Von Einheimischen, Gästen und ganz viel Kühen wird der Brunnen genutzt.</p>")), "");
  EXPECT_EQ(AutoAuthor(page("<p>By the way, it rained.</p><p>Von (Strato) gemietet</p>")), "");
  EXPECT_EQ(AutoAuthor(page("<ul><li><a href=/x>Von Ast getroffen: Waldarbeiter verunglückt</a></li></ul>")), "");
  EXPECT_EQ(AutoAuthor(page("<p><strong>1. Verarbeitung personenbezogener Daten mithilfe von Cookies</strong></p>")), "");
}

// Labels, links and credits that stand where a byline does: the name is
// kept when one is there, nothing when only the label is.
TEST(AutoExtractTest, BylineLabelsFurnitureAndCreditsAreNoNames) {
  auto page = [](const std::string& body) {
    return HtmlDocument::Parse("<html><body><h1>Rain at last</h1>" + body + "<p>Text.</p></body></html>",
                               "http://s.test/");
  };
  const std::pair<const char*, const char*> cases[] = {
      {"<div class=author>Autoreninfo</div>", ""},
      {"<div class=author><a href=/archiv>Archiv anzeigen -&gt;</a></div>", ""},
      {"<p class=byline>Beitrag von</p>", ""},
      {"<span class=author>No Author</span>", ""},
      {"<p class=byline>Text &amp;</p>", ""},
      {"<span class=author><a href=/u/ann title='View all posts by Ann Lee'>View all posts by Ann Lee</a></span>",
       "Ann Lee"},
      {"<p class=byline>Von Ann Lee Illustration von Tom Berg</p>", "Ann Lee"},
      {"<p class=byline>Text &amp; Fotos: Ann Lee</p>", "Ann Lee"},
      {"<p class=byline>By Ann Lee, Photos by Tom Berg</p>", "Ann Lee"},
  };
  for (const auto& [html, name] : cases) EXPECT_EQ(AutoAuthor(page(html)), name) << html;
}

// A title as readers see it: no date glued before it, no site name after a
// dash in any script.
TEST(AutoExtractTest, TitleWithoutADateBeforeItOrTheSiteNameAfterIt) {
  auto page = [](const std::string& head, const std::string& body) {
    return HtmlDocument::Parse("<html><head>" + head + "</head><body>" + body + "<p>Text.</p></body></html>",
                               "http://www.news.test/a/1.html");
  };
  EXPECT_EQ(AutoTitle(page("<title>Jun 17 Rain at last in the valley</title>", "")), "Rain at last in the valley");
  EXPECT_EQ(AutoTitle(page("<title>17.06.2024 Rain at last in the valley</title>", "")),
            "Rain at last in the valley");
  EXPECT_EQ(AutoTitle(page("", "<h1>June 17, 2024: Rain at last in the valley</h1>")), "Rain at last in the valley");
  // A date that is the headline's subject stays.
  EXPECT_EQ(AutoTitle(page("<title>June 17 is the longest day</title>", "")), "June 17 is the longest day");
  // "-新华网": the site's name after a dash without spaces, in its own script.
  EXPECT_EQ(AutoTitle(page("<title>\xE5\x9B\xBD\xE5\xAE\xB6\xE7\xBB\x9F\xE8\xAE\xA1\xE5\xB1\x80\xE5\x8F\x91\xE5\xB8\x83"
                           "\xE6\x9C\x80\xE6\x96\xB0\xE6\x95\xB0\xE6\x8D\xAE-\xE6\x96\xB0\xE5\x8D\x8E\xE7\xBD\x91</title>"
                           "<meta property=og:site_name content='\xE6\x96\xB0\xE5\x8D\x8E\xE7\xBD\x91'>",
                           "")),
            "\xE5\x9B\xBD\xE5\xAE\xB6\xE7\xBB\x9F\xE8\xAE\xA1\xE5\xB1\x80\xE5\x8F\x91\xE5\xB8\x83"
            "\xE6\x9C\x80\xE6\x96\xB0\xE6\x95\xB0\xE6\x8D\xAE");
  EXPECT_EQ(AutoTitle(page("<title>\xE5\x9B\xBD\xE5\xAE\xB6\xE7\xBB\x9F\xE8\xAE\xA1\xE5\xB1\x80\xE5\x8F\x91\xE5\xB8\x83"
                           "\xE6\x9C\x80\xE6\x96\xB0\xE6\x95\xB0\xE6\x8D\xAE_\xE6\x96\xB0\xE9\x97\xBB\xE9\xA2\x91"
                           "\xE9\x81\x93_\xE6\x96\xB0\xE5\x8D\x8E\xE7\xBD\x91</title>"
                           "<meta property=og:site_name content='\xE6\x96\xB0\xE5\x8D\x8E\xE7\xBD\x91'>",
                           "")),
            "\xE5\x9B\xBD\xE5\xAE\xB6\xE7\xBB\x9F\xE8\xAE\xA1\xE5\xB1\x80\xE5\x8F\x91\xE5\xB8\x83"
            "\xE6\x9C\x80\xE6\x96\xB0\xE6\x95\xB0\xE6\x8D\xAE");
}

// A page served whole inside <noscript> is read there, as a reader without
// scripts sees it; a <noscript> beside the text stays out.
TEST(AutoExtractTest, APageInsideNoscriptIsThePage) {
  Extracted whole = Extract("<html><body><noscript><div id=page><h1>Bears</h1>" + Story("Bear") +
                            "</div></noscript><script>render()</script></body></html>");
  EXPECT_TRUE(whole.result.found);
  EXPECT_NE(whole.item.body.find("Bear paragraph 4"), std::string::npos) << whole.item.body;
  Extracted beside = Extract("<html><body><article><h1>Bears</h1>" + Story("Bear") +
                             "</article><noscript><p>Please switch on scripts to see the comments under this story."
                             "</p></noscript></body></html>");
  EXPECT_EQ(beside.item.body.find("switch on scripts"), std::string::npos) << beside.item.body;
}

// A headline is what its reader sees: not a label set for screen readers,
// not a ruby's reading aid, and not cut at a dash that is its own.
TEST(AutoExtractTest, HeadlineAndTextAsTheirReaderSeesThem) {
  auto page = [](const std::string& head, const std::string& body) {
    return HtmlDocument::Parse("<html><head>" + head + "</head><body>" + body + Story("Some") + "</body></html>",
                               "http://www.news.test/a/1.html");
  };
  EXPECT_EQ(AutoTitle(page("<title>Energy and society | Institute</title>",
                           "<h1><div><span class=visuallyhidden>Headline:</span> Energy and society</div></h1>")),
            "Energy and society");
  // A headline set for screen readers alone is still the headline.
  EXPECT_EQ(AutoTitle(page("<title>Energy and society | Institute</title>",
                           "<h1 class=sr-only>Energy and society</h1><img src=/e.png alt=''>")),
            "Energy and society");
  // 子どもへの体罰を禁止する法律ができる, its readings in <rt>.
  EXPECT_EQ(AutoTitle(page("<title>NEWS EASY</title>",
                           "<h1><ruby>\xE5\xAD\x90<rt>\xE3\x81\x93</rt></ruby>\xE3\x81\xA9\xE3\x82\x82"
                           "\xE3\x81\xB8\xE3\x81\xAE<ruby>\xE4\xBD\x93\xE7\xBD\xB0<rp>(</rp><rt>"
                           "\xE3\x81\x9F\xE3\x81\x84\xE3\x81\xB0\xE3\x81\xA4</rt><rp>)</rp></ruby>"
                           "\xE3\x82\x92\xE7\xA6\x81\xE6\xAD\xA2\xE3\x81\x99\xE3\x82\x8B</h1>")),
            "\xE5\xAD\x90\xE3\x81\xA9\xE3\x82\x82\xE3\x81\xB8\xE3\x81\xAE\xE4\xBD\x93\xE7\xBD\xB0"
            "\xE3\x82\x92\xE7\xA6\x81\xE6\xAD\xA2\xE3\x81\x99\xE3\x82\x8B");
  // The site's name follows the last separator; the dash before it is the headline's.
  EXPECT_EQ(AutoTitle(page("<meta property=og:title content='A new venue in the hills \xE2\x80\x93 a hidden gem - "
                           "pastor.example'>",
                           "<h1 class=entry-title>A new venue in the hills \xE2\x80\x93 a hidden gem</h1>")),
            "A new venue in the hills \xE2\x80\x93 a hidden gem");
  // 漢字 with its reading かんじ: the text keeps the word alone.
  const Extracted e = Extract("<html><body><article><h1>Reading aids</h1>" + Story("Ruby") +
                              "<p>The word <ruby>\xE6\xBC\xA2\xE5\xAD\x97<rt>\xE3\x81\x8B\xE3\x82\x93\xE3\x81"
                              "\x98</rt></ruby> is written so, in a paragraph long enough to count.</p></article></body></html>");
  EXPECT_NE(e.item.body.find("The word \xE6\xBC\xA2\xE5\xAD\x97 is written so"), std::string::npos) << e.item.body;
}

// Boxes that ask the reader for something (money, an address, a login, a
// cookie's consent) and the notes after the text are no part of it.
TEST(AutoExtractTest, AppealsBiosAndNoticesAroundTheTextStayOut) {
  const std::string text = Story("Harbour");
  const std::string boxes[] = {
      "<div class=donation-box><p>Support independent journalism, donate today so that we can keep writing.</p></div>",
      "<div class=spendenaufruf><p>Unterst\xC3\xBCtzen Sie unsere Arbeit mit einer Spende, damit wir weiter berichten.</p></div>",
      "<div class=box><p>Sign up for our newsletter and get the best stories of the week in your inbox, free.</p>"
      "<input type=email name=email></div>",
      "<p>If you enjoyed reading this post, please share it with your friends and subscribe to the blog.</p>",
      "<p>Please log in or register to read the rest and to comment on the stories of this site.</p>",
      "<div class=notice><p>We use cookies to give you the best experience on our website. By continuing you accept "
      "them.</p></div>",
      "<div class=author-bio><p>Ann Lee writes about harbours, boats and the people who work there, since 2004.</p></div>",
      "<div><p>Um Deine pers\xC3\xB6nlichen Daten zu sch\xC3\xBCtzen, haben wir das Laden der Inhalte von "
      "video.test blockiert, bis Du zustimmst.</p><p>Ich bin einverstanden, dass mir externe Inhalte angezeigt "
      "werden.</p></div>",
      "<div><p>To view the full story, please subscribe to The Harbour Times today.</p><p>If you\xE2\x80\x99re already "
      "a subscriber, you can log in for immediate access to this story.</p></div>",
      "<p>For the latest stories and breaking news download our apps for your phone and tablet.</p>",
      "<p>*Werbung. Dieser Beitrag enth\xC3\xA4lt Werbung f\xC3\xBCr eine Marke, die uns bezahlt hat.</p>",
  };
  for (const std::string& box : boxes) {
    for (bool before : {true, false}) {
      Extracted e = Extract("<html><body><article><h1>The harbour</h1>" + (before ? box + text : text + box) +
                            "</article></body></html>");
      EXPECT_NE(e.item.body.find("Harbour paragraph 4"), std::string::npos) << box;
      for (const char* word : {"donate", "Spende", "newsletter", "enjoyed", "log in", "cookies", "since 2004", "blockiert",
                               "einverstanden", "full story", "apps", "Werbung"})
        EXPECT_EQ(e.item.body.find(word), std::string::npos) << word << " kept from " << box;
    }
  }
}

// A long article stored up to the last whole paragraph that fits, and none of
// a picture whose place falls after it.
TEST(AutoExtractTest, ALongTextIsCutAtTheEndOfAParagraph) {
  std::string text;
  for (int i = 0; i < 400; ++i)
    text += "<p>Paragraph " + std::to_string(i) + " of a long report" + std::string(200, 'x') + " ends here.</p>";
  Extracted e = Extract("<html><body><article><h1>Long</h1>" + text + "</article></body></html>");
  const std::string& body = e.item.body;
  ASSERT_GT(body.size(), kMaxBodyChars / 2);
  EXPECT_LE(body.size(), kMaxBodyChars);
  const std::string tail = body.substr(body.size() - 10);
  EXPECT_EQ(tail, "ends here.") << tail;
}

TEST(FeedTest, ReadsRssAndAtomLinksWithDates) {
  const std::string rss =
      "<?xml version='1.0'?><rss version='2.0'><channel><title>T</title>"
      "<item><link>http://s.test/1.html</link><pubDate>Tue, 05 Dec 2023 14:05:09 GMT</pubDate></item>"
      "<item><link>/2.html</link></item>"
      "<item><link>http://s.test/1.html</link></item>"
      "<item><link>http://s.test/clip.mp3</link></item>"
      "<item><guid>http://s.test/3.html</guid><dc:date>2023-12-06T08:00:00Z</dc:date></item></channel></rss>";
  ASSERT_TRUE(LooksLikeFeed(rss));
  std::vector<NewsLink> links = ReadFeed(rss, "http://s.test/feed.xml");
  ASSERT_EQ(links.size(), 3u);
  EXPECT_EQ(links[0].address, "http://s.test/1.html");
  EXPECT_EQ(links[0].date, DateTime::Make(2023, 12, 5, 14, 5, 9));
  EXPECT_EQ(links[1].address, "http://s.test/2.html");
  EXPECT_EQ(links[1].date.status, DateTime::Status::kNull);
  EXPECT_EQ(links[2].date, DateTime::Make(2023, 12, 6, 8, 0, 0));

  const std::string atom =
      "<feed xmlns='http://www.w3.org/2005/Atom'><entry><link rel='edit' href='/edit/1'/>"
      "<link rel='alternate' href='http://s.test/a.html'/><updated>2024-01-02T03:04:05Z</updated></entry></feed>";
  links = ReadFeed(atom, "http://s.test/");
  ASSERT_EQ(links.size(), 1u);
  EXPECT_EQ(links[0].address, "http://s.test/a.html");
  EXPECT_EQ(links[0].date, DateTime::Make(2024, 1, 2, 3, 4, 5));

  EXPECT_FALSE(LooksLikeFeed("<html><body>rss</body></html>"));
  EXPECT_TRUE(ReadFeed("<rss><channel><item><link>http://s.test/x", "http://s.test/").empty());
}

TEST(FeedTest, FindsTheFeedsAPageAdvertises) {
  HtmlDocument page = HtmlDocument::Parse(
      "<html><head><link rel=stylesheet href=/s.css><link rel=alternate type='application/rss+xml' href='/rss'>"
      "<link rel='alternate' type='application/atom+xml' href='http://other.test/atom'>"
      "<link rel=alternate type='application/rss+xml' href='/rss'></head><body></body></html>",
      "http://s.test/news/");
  EXPECT_EQ(AdvertisedFeeds(page), (std::vector<std::string>{"http://s.test/rss", "http://other.test/atom"}));
}

}  // namespace
}  // namespace orvo
