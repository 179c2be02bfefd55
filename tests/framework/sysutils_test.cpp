// The text of the framework's last resort for showing an exception.
#include <gtest/gtest.h>

#include <stdexcept>

#include "framework/exceptions.h"
#include "framework/sysutils.h"

namespace {

TEST(ExceptionMessageText, ClassModuleAddressAndMessage) {
  EXPECT_EQ(fw::ExceptionMessageText("EConvertError", "'x' is not a valid integer value", "contacts.exe", 0x40a1b2),
            "Exception EConvertError in module contacts.exe at 0040a1b2.\r\n'x' is not a valid integer value.");
  EXPECT_EQ(fw::ExceptionMessageText("int", "", "contacts.exe", 0x401000), "Exception int in module contacts.exe at 00401000.");
  EXPECT_EQ(fw::ExceptionMessageText("EAbort", "Done.", "", 0), "Exception EAbort.\r\nDone.");
  EXPECT_EQ(fw::ExceptionMessageText("", "", "", 0x1234), "Exception of unknown type in module ? at 00001234.");
}

TEST(DescribeException, ClassAndMessageOfAnyThrownValue) {
  std::string cls, message;
  auto of = [&](std::exception_ptr p) { fw::DescribeException(p, cls, message); };
  of(std::make_exception_ptr(EConvertError("not a number")));
  EXPECT_EQ(cls, "EConvertError");
  EXPECT_EQ(message, "not a number");
  of(std::make_exception_ptr(std::runtime_error("standard")));
  EXPECT_EQ(cls, "std::runtime_error");
  EXPECT_EQ(message, "standard");
  of(std::make_exception_ptr(42));
  EXPECT_EQ(cls, "int");
  EXPECT_EQ(message, "");
  of(nullptr);
  EXPECT_EQ(cls, "");
  EXPECT_EQ(message, "");
}

}  // namespace
