// The registry's prepared-statement cache, compiled in from the platform's own source: the cache
// is internal to the platform library and not reachable through the registry API.
#include "registry_database.h"
#include "registry_store.h"

#include "support/temp_registry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using qb::platform::registry::Database;
using qb::platform::registry::Statement;

class StatementCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database_.Lock();
    ASSERT_EQ(database_.EnsureOpen(), ERROR_SUCCESS);
  }
  void TearDown() override { database_.Unlock(); }

  quillbox::test::TempRegistry registry_;
  Database& database_ = Database::Instance();
};

TEST_F(StatementCacheTest, EqualTextsShareOneStatementAndDifferentTextsDoNot) {
  // Two buffers holding the same text, neither of them a literal.
  const std::string first = std::string("SELECT id FROM keys WHERE ") + "id = ?1";
  const std::string second = std::string("SELECT id FROM keys ") + "WHERE id = ?1";
  ASSERT_NE(first.data(), second.data());
  sqlite3_stmt* const shared = database_.Prepare(first);
  EXPECT_EQ(database_.Prepare(second), shared);
  EXPECT_EQ(database_.Prepare("SELECT id FROM keys WHERE id = ?1"), shared);

  const std::string other = "SELECT id FROM keys WHERE parent = ?1";
  EXPECT_NE(database_.Prepare(other), shared);
  // Texts that agree up to the shorter one's end are different texts too.
  EXPECT_NE(database_.Prepare("SELECT id FROM keys WHERE id = ?1 LIMIT 1"), shared);
}

TEST_F(StatementCacheTest, TextFromABufferThatIsGoneStillRuns) {
  {
    std::string sql = "SELECT count(*) FROM keys WHERE id <= ?1";
    Statement statement(sql);
    statement.BindInt(1, 3);
    ASSERT_TRUE(statement.Step());
    EXPECT_EQ(sqlite3_column_int(statement.get(), 0), 3);
  }
  // The buffer the cache was first given is freed; a new one with the same text finds the
  // statement by its text and runs it again, reset.
  std::string again = "SELECT count(*) FROM keys WHERE id <= ?1";
  Statement statement(again);
  statement.BindInt(1, 1);
  ASSERT_TRUE(statement.Step());
  EXPECT_EQ(sqlite3_column_int(statement.get(), 0), 1);
  EXPECT_FALSE(statement.Step());
}

TEST_F(StatementCacheTest, AnInvalidTextFailsWithoutEnteringTheCache) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      database_.Prepare(std::string("SELECT nothing FROM nowhere"));
      ADD_FAILURE() << "an invalid statement prepared";
    } catch (const qb::platform::registry::StoreError& error) {
      EXPECT_EQ(error.status, ERROR_REGISTRY_IO_FAILED);
    }
  }
}

}  // namespace
