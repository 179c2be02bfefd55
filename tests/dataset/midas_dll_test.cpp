// The Windows build's engine library: client datasets load MIDAS.DLL at run time; a library that cannot be
// loaded fails with the program's message.
#include <windows.h>

#include <gtest/gtest.h>

#include "framework/db.h"
#include "framework/midas_api.h"
#include "tests/dataset/contact_image.h"

using namespace fw;

TEST(MidasDll, ExportsTheEngineAndOpensTheContactImage) {
  HMODULE dll = LoadLibraryA("MIDAS.DLL");
  ASSERT_NE(dll, nullptr);
  EXPECT_NE(GetProcAddress(dll, "midas_open_image"), nullptr);
  EXPECT_NE(GetProcAddress(dll, "midas_last_error"), nullptr);
  FreeLibrary(dll);

  const MidasApi& api = LoadMidas("MIDAS.DLL");
  midas_table* t = nullptr;
  std::string image = ContactImage();
  ASSERT_EQ(api.midas_open_image(image.data(), static_cast<uint32_t>(image.size()), &t), MIDAS_OK);
  EXPECT_EQ(api.midas_column_count(t), 3);
  api.midas_free(t);
  EXPECT_NE(api.midas_open_image(image.data(), 91, &t), MIDAS_OK);
  EXPECT_NE(std::string(api.midas_last_error()).find("truncated"), std::string::npos);

  TClientDataSet ds;
  ds.SetData(image);
  ds.Open();
  ds.Append();
  ds.FieldByName("NAME")->SetText(std::string(80, 'n'));
  ds.Post();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString().size(), 50u);
}

TEST(MidasDll, AMissingEngineFailsWithTheProgramsMessage) {
  SetMidasLibraryName("NOSUCHMIDAS.DLL");
  TClientDataSet ds;
  ds.SetData(ContactImage());
  try {
    ds.Open();
    ADD_FAILURE() << "opened without an engine";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Erro carregando NOSUCHMIDAS.DLL");
  }
  EXPECT_FALSE(ds.Active());
  // A library without the engine's functions is refused the same way.
  SetMidasLibraryName("kernel32.dll");
  EXPECT_THROW(ds.Open(), EDatabaseError);
  SetMidasLibraryName("MIDAS.DLL");
  ds.Open();
  EXPECT_TRUE(ds.Active());
}
