#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "gui/foundation/hash_table.h"
#include "gui/foundation/list.h"

namespace sorvel {
namespace {

TEST(ListTest, PositionsAreCheckedAndCountFromOne) {
  List<QString> list;
  int events = 0;
  list.SetChangeHandler([&] { ++events; });
  for (const char* s : {"a", "b", "c"}) list.AddNew(s);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Item(1), QString("a"));
  EXPECT_FALSE(list.Item(0).has_value());
  EXPECT_FALSE(list.Item(5).has_value());
  EXPECT_FALSE(list.Remove(0));
  EXPECT_FALSE(list.Remove(4));
  EXPECT_EQ(events, 5);  // three additions and two failed removals
  EXPECT_EQ(list.Count(), 3);
  EXPECT_FALSE(list.SetItem(4, "x"));
  EXPECT_TRUE(list.SetItem(3, "a"));
  EXPECT_EQ(events, 5);  // writes raise no event
  EXPECT_EQ(list.FindData("a"), 1);
  EXPECT_EQ(list.FindData("zz"), 0);
  EXPECT_TRUE(list.Remove(1));
  EXPECT_EQ(list.Item(1), QString("b"));
  EXPECT_EQ(list.FindData("a"), 2);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(ListTest, HoldsValuesOfAnyKindAndSharesObjects) {
  List<> list;
  list.AddNew(QVariant(5));
  list.AddNew(QVariant(QString("五")));
  EXPECT_EQ(list.FindData(QVariant(QString("五"))), 2);
  EXPECT_EQ(list.Item(1)->toInt(), 5);

  List<std::shared_ptr<int>> objects;
  auto object = std::make_shared<int>(1);
  objects.AddNew(object);
  *object = 7;
  EXPECT_EQ(**objects.Item(1), 7);
  EXPECT_EQ(objects.FindData(object), 1);
}

TEST(ListTest, StopsAtItsLimit) {
  List<int> list;
  for (int i = 0; i < List<int>::kMaxCount; ++i) ASSERT_TRUE(list.AddNew(i));
  EXPECT_FALSE(list.AddNew(0));
  EXPECT_EQ(list.Count(), List<int>::kMaxCount);
}

TEST(HashTableTest, KeepsKeysSortedAndFindsThem) {
  HashTable<QString, QString> table;
  for (const char* k : {"b", "a", "c"}) table.SetData(k, QString(k).toUpper());
  ASSERT_EQ(table.Count(), 3);
  EXPECT_EQ(table.IndexList(1), "a");
  EXPECT_EQ(table.IndexList(2), "b");
  EXPECT_EQ(table.IndexList(3), "c");
  EXPECT_EQ(table.DataList(3), "C");
  EXPECT_EQ(table.IndexList(0), "");
  EXPECT_EQ(table.DataList(4), "");
  EXPECT_EQ(table.GetData("b"), QString("B"));
  EXPECT_FALSE(table.GetData("bb").has_value());
  table.SetData("b", QString("replaced"));
  EXPECT_EQ(table.Count(), 3);
  EXPECT_EQ(table.GetData("b"), QString("replaced"));
  table.SetData("A", QString("upper"));  // upper case sorts first, and is its own key
  EXPECT_EQ(table.IndexList(1), "A");
  EXPECT_EQ(table.Count(), 4);
}

TEST(HashTableTest, NullRemovesAndEventsFollowChanges) {
  HashTable<QString, QString> table;
  int events = 0;
  table.SetChangeHandler([&] { ++events; });
  EXPECT_FALSE(table.GetData("x").has_value());
  EXPECT_EQ(table.Count(), 0);
  table.SetData("x", std::nullopt);
  EXPECT_EQ(events, 0);
  EXPECT_FALSE(table.Remove("x"));
  EXPECT_EQ(events, 0);
  table.SetData("x", QString("1"));
  table.SetData("x", std::nullopt);
  EXPECT_EQ(events, 2);
  EXPECT_EQ(table.Count(), 0);
}

TEST(HashTableTest, MatchesAnOrderedMapOverManyInsertionsAndRemovals) {
  HashTable<QString, int> table;
  std::map<QString, int> model;
  uint32_t seed = 12345;
  for (int step = 0; step < 4000; ++step) {
    seed = seed * 1103515245u + 12345u;
    const QString key = QString::number((seed >> 8) % 500);
    if ((seed >> 4) % 3 == 0) {
      EXPECT_EQ(table.Remove(key), model.erase(key) == 1);
    } else {
      table.SetData(key, step);
      model[key] = step;
    }
  }
  ASSERT_EQ(table.Count(), static_cast<int>(model.size()));
  int i = 1;
  for (const auto& [key, value] : model) {
    EXPECT_EQ(table.IndexList(i), key);
    EXPECT_EQ(table.DataList(i), value);
    EXPECT_EQ(table.GetData(key), value);
    ++i;
  }
}

TEST(HashTableTest, ReservesPlacesInSteps) {
  HashTable<QString, int> table;
  EXPECT_EQ(table.Capacity(), 0);
  table.SetData("k0", 0);
  EXPECT_EQ(table.Capacity(), 101);
  for (int i = 1; i < 101; ++i) table.SetData(QString("k%1").arg(i, 3, 10, QChar('0')), i);
  EXPECT_EQ(table.Capacity(), 101);
  table.SetData("z", 0);  // the 102nd entry
  EXPECT_EQ(table.Capacity(), 202);
  table.Clear();
  EXPECT_EQ(table.Capacity(), 202);
}

}  // namespace
}  // namespace sorvel
