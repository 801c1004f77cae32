// SPDX-License-Identifier: MIT
// One running copy per program file name: a lock on "<base name>.lock" in
// the user's runtime directory (else the temporary directory, with the user
// id in the name), held for the life of the process.
#pragma once

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
    int m_fd = -1;
    bool m_first = false;
};

}  // namespace velmorin
