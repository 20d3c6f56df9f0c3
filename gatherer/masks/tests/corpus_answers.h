// The annotations of the shared corpus of real pages, read once for the
// corpus tests and the extraction benchmark alike, and the comparisons they
// are judged by.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::corpus {

// The corpus folder: $ORVO_SHARED/corpus, else the shared folder beside the
// source tree (a worktree sits one level deeper than the main checkout).
// Empty when there is none.
std::filesystem::path FindCorpus(const std::filesystem::path& source_dir);

std::string ReadWholeFile(const std::filesystem::path& p);

// White space as the annotations are compared: every run of spaces, tabs,
// line breaks and no-break spaces is one space; ends trimmed.
std::string Normalise(std::string_view s);

// A stored body as the reader shows its text, normalised.
std::string BodyText(std::string body);

struct AnnotatedPage {
  std::string name;  // "articles/FILE", "articles-more/FILE" or "readability/CASE"
  std::filesystem::path file;
  std::string url;
  bool has_title = false, has_author = false;  // null: not annotated
  std::string title, author;
  std::string date;                        // "YYYY-MM-DD"; empty when none is annotated
  std::vector<std::string> with, without;  // normalised
  bool title_from_title_element = false;   // readability: the <title> text, site name and all
};

// Every annotated page of corpus/articles (answers.json) and
// corpus/readability (expected-metadata.json), sorted by name.
std::vector<AnnotatedPage> ReadAnnotatedPages(const std::filesystem::path& corpus);
// Every annotated page of corpus/articles-more, sorted by name; none when
// the folder is missing.
std::vector<AnnotatedPage> ReadMorePages(const std::filesystem::path& corpus);

// Title and author as the annotators meant them. Both kinds were copied
// from the rendered page, so CSS upper-casing shows in them and case does
// not count; a byline may keep its "By"; a <title> may keep the site's name
// after a separator.
bool SameAuthor(std::string_view got, std::string_view wanted);
bool SameTitle(std::string_view got, const AnnotatedPage& page);

}  // namespace orvo::corpus
