#pragma once
// A bounded cache of decoded tables (L2 tables, grain tables, sector bitmaps)
// shared by every thread reading one image. Entries are handed out as shared
// pointers, so dropping them from the cache never pulls bytes from under a
// reader still using them. Loading happens outside the lock: two threads may
// both load a missing entry, and the second simply finds it there.
#include <cstddef>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace ondrel {

template <typename Key, typename Value, typename Hash = std::hash<Key>>
class SharedCache {
public:
    explicit SharedCache(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

    template <typename Load>
    std::shared_ptr<const Value> get(const Key& key, Load&& load) const {
        {
            std::lock_guard lock(mutex_);
            auto it = entries_.find(key);
            if (it != entries_.end()) return it->second;
        }
        auto value = std::make_shared<const Value>(load());
        std::lock_guard lock(mutex_);
        if (entries_.size() >= capacity_) entries_.clear();
        return entries_.emplace(key, std::move(value)).first->second;
    }

    void clear() {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }

private:
    std::size_t capacity_;
    mutable std::mutex mutex_;
    mutable std::unordered_map<Key, std::shared_ptr<const Value>, Hash> entries_;
};

// Objects that are costly to set up (inflaters, zstd contexts), lent to one
// thread at a time and kept for the next.
template <typename T>
class ObjectPool {
public:
    explicit ObjectPool(std::size_t kept = 16) : kept_(kept) {}

    struct Return {
        const ObjectPool* pool;
        void operator()(T* object) const { pool->put(object); }
    };
    using Lease = std::unique_ptr<T, Return>;

    template <typename Make>
    Lease take(Make&& make) const {
        {
            std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                T* object = idle_.back().release();
                idle_.pop_back();
                return Lease(object, Return{this});
            }
        }
        return Lease(make().release(), Return{this});
    }

private:
    void put(T* object) const {
        std::unique_ptr<T> owned(object);
        std::lock_guard lock(mutex_);
        if (idle_.size() < kept_) idle_.push_back(std::move(owned));
    }
    std::size_t kept_;
    mutable std::mutex mutex_;
    mutable std::vector<std::unique_ptr<T>> idle_;
};

}  // namespace ondrel
