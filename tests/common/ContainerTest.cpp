#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/ConcurrentMap.h"
#include "common/ConcurrentQueue.h"
#include "common/ConcurrentUnorderedMap.h"
#include "common/ConcurrentVector.h"

namespace orvale::recorder {
namespace {

using Item = std::shared_ptr<int>;
Item MakeItem(int value) {
    return std::make_shared<int>(value);
}

TEST(ConcurrentMapTest, InsertKeepsExistingUpdateNeedsTheKey) {
    ConcurrentMap<std::string, Item> map;
    EXPECT_TRUE(map.Insert("D", MakeItem(1)));
    EXPECT_TRUE(map.Insert("D", MakeItem(2)));
    EXPECT_EQ(*map.Find("D"), 1);
    EXPECT_FALSE(map.Update("E", MakeItem(3)));
    EXPECT_FALSE(map.Contains("E"));
    EXPECT_TRUE(map.Update("D", MakeItem(4)));
    EXPECT_EQ(*map.Find("D"), 4);
    EXPECT_TRUE(map.Erase("absent"));
    EXPECT_EQ(map.Find("absent"), nullptr);
    EXPECT_EQ(map.Size(), 1u);
}

TEST(ConcurrentMapTest, ValuesAppendInKeyOrder) {
    ConcurrentMap<std::string, Item> map;
    map.Insert("F", MakeItem(6));
    map.Insert("D", MakeItem(4));
    map.Insert("E", MakeItem(5));
    std::vector<Item> values{MakeItem(1), MakeItem(2)};
    EXPECT_TRUE(map.Values(values));
    std::vector<int> plain;
    for (const auto& v : values) plain.push_back(*v);
    EXPECT_EQ(plain, (std::vector<int>{1, 2, 4, 5, 6}));
}

TEST(ConcurrentMapTest, WalkChangesValuesAndPopsTheOldest) {
    ConcurrentMap<uint64_t, uint64_t> events;
    events.Insert(7, 70);
    events.Insert(3, 30);
    EXPECT_TRUE(events.ForEach([](const uint64_t& key, uint64_t& value) { value += key; }));
    EXPECT_EQ(events.Find(3), 33u);
    const auto oldest = events.PopFront();
    ASSERT_TRUE(oldest);
    EXPECT_EQ(oldest->first, 3u);
    EXPECT_EQ(events.Size(), 1u);
}

// A walk whose callback throws at the second of three elements stops there.
TEST(ConcurrentContainerTest, WalkStopsAtTheFirstException) {
    auto throwAtTwo = [](std::vector<int>& seen) {
        return [&seen](Item item) {
            seen.push_back(*item);
            if (*item == 2) throw std::runtime_error("bad element");
        };
    };
    {
        ConcurrentMap<int, Item> map;
        for (int i = 1; i <= 3; ++i) map.Insert(i, MakeItem(i));
        std::vector<int> seen;
        EXPECT_FALSE(map.ForEach(throwAtTwo(seen)));
        EXPECT_EQ(seen, (std::vector<int>{1, 2}));
    }
    {
        ConcurrentVector<Item> vector;
        for (int i = 1; i <= 3; ++i) vector.Add(MakeItem(i));
        std::vector<int> seen;
        EXPECT_FALSE(vector.ForEach(throwAtTwo(seen)));
        EXPECT_EQ(seen, (std::vector<int>{1, 2}));
        seen.clear();
        EXPECT_FALSE(vector.ForEachReverse(throwAtTwo(seen)));
        EXPECT_EQ(seen, (std::vector<int>{3, 2}));
    }
    {
        ConcurrentUnorderedMap<unsigned, Item> map;
        map.Insert(2, MakeItem(2));
        std::vector<int> seen;
        EXPECT_FALSE(map.ForEach(throwAtTwo(seen)));
    }
}

TEST(ConcurrentQueueTest, BoundsAndFactory) {
    ConcurrentQueue<Item> queue(2);
    EXPECT_TRUE(queue.PushBounded(MakeItem(1)));
    EXPECT_TRUE(queue.PushBounded(MakeItem(2)));
    auto dropped = MakeItem(3);
    EXPECT_TRUE(queue.PushBounded(dropped));
    EXPECT_EQ(dropped.use_count(), 1);  // released, not kept
    EXPECT_EQ(queue.Size(), 2u);
    EXPECT_EQ(*queue.PopOrCreate(), 1);
    EXPECT_EQ(*queue.PopOrCreate(), 2);
    EXPECT_EQ(queue.PopOrCreate(), nullptr);
    EXPECT_EQ(*queue.PopOrCreate([] { return MakeItem(9); }), 9);

    ConcurrentQueue<Item> none(0);
    EXPECT_TRUE(none.PushBounded(MakeItem(1)));
    EXPECT_EQ(none.Size(), 0u);
}

TEST(ConcurrentQueueTest, ThrowingFactoryGivesEmpty) {
    ConcurrentQueue<Item> queue(1);
    EXPECT_EQ(queue.PopOrCreate([]() -> Item { throw std::runtime_error("no memory"); }), nullptr);
}

TEST(ConcurrentVectorTest, FrontAndPopFront) {
    ConcurrentVector<Item> vector;
    EXPECT_EQ(vector.Front(), nullptr);
    EXPECT_EQ(vector.PopFront(), nullptr);
    vector.PushBack(MakeItem(1));
    vector.PushBack(MakeItem(2));
    EXPECT_EQ(*vector.Front(), 1);
    EXPECT_EQ(*vector.PopFront(), 1);
    EXPECT_EQ(vector.Size(), 1u);
    vector.Clear();
    EXPECT_EQ(vector.Size(), 0u);
}

// Readers and writers on one container from many threads; run under the
// thread sanitizer build, this is where a missing lock shows.
TEST(ConcurrentContainerTest, ReadersAndWritersTogether) {
    ConcurrentMap<int, Item> map;
    ConcurrentUnorderedMap<std::string, Item> registry;
    ConcurrentVector<Item> vector;
    ConcurrentQueue<Item> queue(4);
    std::atomic<long> seen{0};

    std::vector<std::thread> threads;
    for (int w = 0; w < 4; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < 600; ++i) {
                const int key = w * 10000 + i;
                map.Insert(key, MakeItem(key));
                registry.Insert(std::to_string(key % 50), MakeItem(key));
                vector.Add(MakeItem(key));
                queue.PushBounded(MakeItem(key));
                if (i % 3 == 0) {
                    map.Erase(key);
                    registry.Erase(std::to_string(key % 50));
                    queue.PopOrCreate();
                }
                if (i % 100 == 0) vector.Clear();
            }
        });
    }
    for (int r = 0; r < 4; ++r) {
        threads.emplace_back([&] {
            for (int round = 0; round < 300; ++round) {
                map.ForEach([&](Item item) { seen += *item >= 0; });
                registry.ForEach([&](Item item) { seen += *item >= 0; });
                vector.ForEachReverse([&](Item item) { seen += *item >= 0; });
                std::vector<Item> values;
                map.Values(values);
                seen += static_cast<long>(values.size() + map.Size());
            }
        });
    }
    for (auto& thread : threads) thread.join();

    // Keys with i % 3 == 0 were erased again: 4 writers x 400 keys stay.
    EXPECT_EQ(map.Size(), 4u * 400u);
    EXPECT_GT(seen.load(), 0);
}

}  // namespace
}  // namespace orvale::recorder
