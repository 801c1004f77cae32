// SPDX-License-Identifier: MIT
// The catalogue tests' fixture: a real HTTP server on 127.0.0.1 and the
// server settings pointed at it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "support/http_server.h"
#include "support/test_files.h"

namespace velmorin {

// Each test works in a directory of its own, with a temporary directory of
// its own, so that whatever a fetch leaves behind shows.
class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(m_temporary);
        m_previous = std::filesystem::current_path();
        std::filesystem::current_path(m_directory.Path());
    }
    void TearDown() override { std::filesystem::current_path(m_previous); }

    void UseServers(const std::string& update, const std::string& fallback) {
        m_update.reset();  // the old settings go back first
        m_fallback.reset();
        m_update = std::make_unique<testing::ScopedEnvironment>("VELMORIN_UPDATE_SERVER", update);
        m_fallback =
            std::make_unique<testing::ScopedEnvironment>("VELMORIN_FALLBACK_SERVER", fallback);
    }

    // Nothing of a fetch is left: neither in the temporary directory nor in
    // the working directory.
    bool TemporaryFileGone() const {
        return std::filesystem::is_empty(m_temporary) &&
               std::filesystem::is_empty(m_directory.Path());
    }

    testing::TempDirectory m_directory;
    testing::TempDirectory m_outside;
    const std::filesystem::path m_temporary = m_outside.Path() / "tmp";
    testing::ScopedEnvironment m_tmpdir{"TMPDIR", m_temporary.string()};
    testing::ScopedEnvironment m_tmp{"TMP", m_temporary.string()};  // the same on Windows
    std::filesystem::path m_previous;
    testing::HttpServer m_server;
    std::unique_ptr<testing::ScopedEnvironment> m_update;
    std::unique_ptr<testing::ScopedEnvironment> m_fallback;
    testing::ScopedEnvironment m_webSite{"VELMORIN_WEB_SITE", std::string("www.test.example")};
};

}  // namespace velmorin
