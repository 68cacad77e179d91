// A fresh machine whose language library points the uploader at a test service, with the library loaded.
#pragma once

#include "AlbumliftLibrary.h"
#include "platform/zavoz/testing/CZvTestService.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kvtest {

class AlbumliftFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(m_service.Port(), 0);
        m_service.AddAccount("anna", "secret");
        WriteLanguageFile(m_machine.Path(), m_service.BaseUrl());
        m_library = std::make_unique<AlbumliftLibrary>();
        ASSERT_TRUE(m_library->Loaded());
        ASSERT_NE(m_library->NewFolder, nullptr);
    }
    void TearDown() override {
        if (m_library) {
            m_library->Close();
            EXPECT_TRUE(m_library->Unload()) << "the library stays in the process";
        }
    }

    // Initialised, connected and with the album list read.
    void Ready() {
        ASSERT_EQ(m_library->Initialize(), 0);
        ASSERT_EQ(m_library->Connect("Anna", "Secret", 0), 0);
        ASSERT_EQ(m_library->GetAlbumList(0), 0);
    }

    // A photo file of `size` bytes with content of its own.
    std::string PhotoFile(const std::string& name, std::size_t size, unsigned seed = 1) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>((i * 167 + seed * 13 + (i >> 11)) & 0xFF);
        return m_files.Write(name, bytes);
    }

    TempSystemRoot m_machine;
    CZvTestService m_service;
    TempFolder m_files;
    std::unique_ptr<AlbumliftLibrary> m_library;
};

} // namespace kvtest
