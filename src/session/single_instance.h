// SPDX-License-Identifier: MIT
// One running copy per program file name for each user: the first copy
// holds a system-wide name (a lock file, a named mutex) for its lifetime,
// and a later copy finds it taken.
#pragma once

#include <memory>
#include <string>

namespace velmorin {

class SingleInstance {
public:
    explicit SingleInstance(const std::string& baseName);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another process of the same name holds the lock.
    bool IsFirst() const { return m_first; }

private:
    // The platform's hold on the name.
    struct Native;
    std::unique_ptr<Native> m_native;
    bool m_first = false;
};

}  // namespace velmorin
