#include "velto-ot/error.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace velto::ot {
namespace {

// What a failed receive reports when the manager has stopped, as the session
// engine renders it.
class ChannelClosed final : public velto::Error {
 public:
  std::string display() const override { return "The manager channel was closed"; }
  std::string debug() const override { return "ManagerChannelClosed"; }
};

struct TextCase {
  std::string name;
  BoxedError error;
  std::string display;
  std::string debug;
};

std::vector<TextCase> text_cases() {
  const BoxedError closed = std::make_shared<ChannelClosed>();
  return {
      {"base_ot_communication", box_error<BaseOtError>(BaseOtError::CommunicationError{closed}),
       "The manager channel was closed", "CommunicationError(ManagerChannelClosed)"},
      {"base_ot_invalid_size", box_error<BaseOtError>(BaseOtError::InvalidMessageSizeError{}),
       "Received message of invalid size", "InvalidMessageSizeError"},
      {"ot_input_too_large", box_error<OtError>(OtError::InputTooLarge{}), "Input is too large", "InputTooLarge"},
      {"ot_communication", box_error<OtError>(OtError::CommunicationError{closed}),
       "Communication error: `The manager channel was closed`", "CommunicationError(ManagerChannelClosed)"},
      {"ot_invalid_value", box_error<OtError>(OtError::ReceivedInvalidValueFromOtherParty{}),
       "Received invalid value from other party", "ReceivedInvalidValueFromOtherParty"},
  };
}

TEST(OtErrorTest, DisplayAndDebugTexts) {
  for (const auto& c : text_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.error->display(), c.display);
    EXPECT_EQ(c.error->debug(), c.debug);
  }
}

TEST(OtErrorTest, CommunicationVariantsHandOutTheBoxedError) {
  const BoxedError closed = std::make_shared<ChannelClosed>();
  const BaseOtError base = BaseOtError::CommunicationError{closed};
  const OtError ot = OtError::CommunicationError{closed};
  EXPECT_EQ(base.source(), closed.get());
  EXPECT_EQ(ot.source(), closed.get());

  EXPECT_EQ(BaseOtError(BaseOtError::InvalidMessageSizeError{}).source(), nullptr);
  EXPECT_EQ(OtError(OtError::InputTooLarge{}).source(), nullptr);
  EXPECT_EQ(OtError(OtError::ReceivedInvalidValueFromOtherParty{}).source(), nullptr);
}

TEST(OtErrorTest, EmptyBoxIsRefusedAtConstruction) {
  EXPECT_THROW(BaseOtError(BaseOtError::CommunicationError{nullptr}), velto::Panic);
  EXPECT_THROW(OtError(OtError::CommunicationError{nullptr}), velto::Panic);
}

}  // namespace
}  // namespace velto::ot
