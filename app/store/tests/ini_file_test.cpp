#include "app/store/ini_file.h"

#include <gtest/gtest.h>

#include "common/atomic_file.h"
#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

std::string ParseError(std::string_view text) {
  std::string error;
  EXPECT_FALSE(IniDocument::Parse(text, &error).has_value()) << text;
  return error;
}

TEST(IniFile, ReadsSectionsFieldsAndComments) {
  const auto ini = IniDocument::Parse(
      "# product information\r\n"
      "\r\n"
      "[product]\r\n"
      "name=Orlin\r\n"
      "outname=Orlin_Desktop_Sync\r\n"
      "[other]\n"
      "name = spaced \n"
      "[product]\n"
      "version=1.0\n"
      "name=Orlin 2");
  ASSERT_TRUE(ini);
  EXPECT_EQ(ini->Value("product", "outname"), "Orlin_Desktop_Sync");
  // A repeated section continues; a repeated key replaces.
  EXPECT_EQ(ini->Value("product", "version"), "1.0");
  EXPECT_EQ(ini->Value("product", "name"), "Orlin 2");
  // Neither key nor value is trimmed.
  EXPECT_EQ(ini->Value("other", "name "), " spaced ");
  EXPECT_EQ(ini->Value("other", "name"), "");
  EXPECT_EQ(ini->Value("missing", "name"), "");
  EXPECT_TRUE(ini->HasSection("other"));
  EXPECT_EQ(ProductDisplayName(*ini), "Orlin Desktop Sync");
}

TEST(IniFile, SplitsAtTheFirstEqualsSign) {
  const auto ini = IniDocument::Parse("[s]\na=b=c\n=empty key\nempty=\n");
  ASSERT_TRUE(ini);
  EXPECT_EQ(ini->Value("s", "a"), "b=c");
  EXPECT_EQ(ini->Value("s", ""), "empty key");
  EXPECT_EQ(ini->Value("s", "empty"), "");
}

TEST(IniFile, OnlyTheFirstCarriageReturnIsRemoved) {
  const auto ini = IniDocument::Parse("[s]\nk=v\r\r\nx=a\rb\n");
  ASSERT_TRUE(ini);
  EXPECT_EQ(ini->Value("s", "k"), "v\r");
  EXPECT_EQ(ini->Value("s", "x"), "ab");
}

TEST(IniFile, ErrorsNameTheirLine) {
  EXPECT_EQ(ParseError("# c\n\n[]\n"), "l3: ini parsing failed, section is empty");
  EXPECT_EQ(ParseError("[a]x"), "l1: ini parsing failed, no end of line after section");
  EXPECT_EQ(ParseError("[a]]\n"), "l1: ini parsing failed, no end of line after section");
  EXPECT_EQ(ParseError("[a]\nk=v\n[broken\n"), "l3: ini parsing failed, section not closed");
  EXPECT_EQ(ParseError("\r\nk=v\n"), "l2: ini parsing failed, field has no section");
  EXPECT_EQ(ParseError("[a]\r\nk=v\r\n\r\n# note\r\njust text\r\n"), "l5: ini parsing failed, no '=' found");
  // The first error stops the parse.
  EXPECT_EQ(ParseError("[a]\nbad\n[]\n"), "l2: ini parsing failed, no '=' found");
}

TEST(IniFile, MissingFileIsAnEmptyDocument) {
  testsupport::TempDir dir;
  std::string error;
  auto ini = IniDocument::Load(dir.path() / "Orlin.ini", &error);
  ASSERT_TRUE(ini);
  EXPECT_EQ(ProductDisplayName(*ini), "");

  ASSERT_FALSE(WriteFileAtomically(dir.path() / "Orlin.ini", "[product]\noutname=Tarn_Sync\n"));
  ini = IniDocument::Load(dir.path() / "Orlin.ini", &error);
  ASSERT_TRUE(ini);
  EXPECT_EQ(ProductDisplayName(*ini), "Tarn Sync");

  ASSERT_FALSE(WriteFileAtomically(dir.path() / "Orlin.ini", "outname=Tarn_Sync\n"));
  EXPECT_FALSE(IniDocument::Load(dir.path() / "Orlin.ini", &error).has_value());
  EXPECT_EQ(error, "l1: ini parsing failed, field has no section");
}

}  // namespace
}  // namespace orlin
