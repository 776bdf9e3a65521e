#include "velto-ote/error.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace velto::ote {
namespace {

// What a failed send or receive reports when the manager has stopped, as the
// session engine renders it.
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
  const ot::BaseOtError bad_size = ot::BaseOtError::InvalidMessageSizeError{};
  const ot::BaseOtError base_comm = ot::BaseOtError::CommunicationError{closed};
  return {
      {"ote_pprf", box_error<OteError>(OteError::InvalidPprfHash{}),
       "The received PPRF hashes are not consistent with the computed ones", "InvalidPprfHash"},
      {"ote_challenge", box_error<OteError>(OteError::InvalidChallengeResponse{}),
       "The received consistency check response is not consistent with the computed one",
       "InvalidChallengeResponse"},
      // No prefix: the closed channel's text alone.
      {"ote_communication", box_error<OteError>(OteError::CommunicationError{closed}),
       "The manager channel was closed", "CommunicationError(ManagerChannelClosed)"},
      {"cote_base_ot", box_error<CoteError>(CoteError::BaseOTSenderError{bad_size}),
       "Base OT sender error: `Received message of invalid size`", "BaseOTSenderError(InvalidMessageSizeError)"},
      {"cote_base_ot_comm", box_error<CoteError>(CoteError::BaseOTSenderError{base_comm}),
       "Base OT sender error: `The manager channel was closed`",
       "BaseOTSenderError(CommunicationError(ManagerChannelClosed))"},
      // The same closed channel, now with the prefix and back-ticks.
      {"cote_comm", box_error<CoteError>(CoteError::CommError{closed}),
       "Communication error: `The manager channel was closed`", "CommError(ManagerChannelClosed)"},
      {"cote_check", box_error<CoteError>(CoteError::CheckFailed{}), "Check failed", "CheckFailed"},
      {"cote_invalid", box_error<CoteError>(CoteError::InvalidMessage{}), "Invalid message received",
       "InvalidMessage"},
      // No back-ticks after "Failed extending: ".
      {"rote_failed_extending", box_error<RoteError>(RoteError::FailedExtending{bad_size}),
       "Failed extending: Received message of invalid size", "FailedExtending(InvalidMessageSizeError)"},
      {"rote_comm", box_error<RoteError>(RoteError::CommunicationError{closed}),
       "Communication Error: `The manager channel was closed`", "CommunicationError(ManagerChannelClosed)"},
      {"rote_invalid", box_error<RoteError>(RoteError::InvalidValue{}), "Received invalid value from alice",
       "InvalidValue"},
  };
}

TEST(OteErrorTest, DisplayAndDebugTexts) {
  for (const auto& c : text_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.error->display(), c.display);
    EXPECT_EQ(c.error->debug(), c.debug);
  }
}

TEST(OteErrorTest, SourceChains) {
  const BoxedError closed = std::make_shared<ChannelClosed>();

  // The transparent display of OteError's communication variant still hands
  // out the boxed error as its source.
  EXPECT_EQ(OteError(OteError::CommunicationError{closed}).source(), closed.get());
  EXPECT_EQ(CoteError(CoteError::CommError{closed}).source(), closed.get());
  EXPECT_EQ(RoteError(RoteError::CommunicationError{closed}).source(), closed.get());

  // Two links: CoteError -> BaseOtError -> the boxed error.
  const CoteError cote = CoteError::BaseOTSenderError{ot::BaseOtError::CommunicationError{closed}};
  const Error* first = cote.source();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->debug(), "CommunicationError(ManagerChannelClosed)");
  EXPECT_EQ(first->source(), closed.get());

  const RoteError rote = RoteError::FailedExtending{ot::BaseOtError::InvalidMessageSizeError{}};
  ASSERT_NE(rote.source(), nullptr);
  EXPECT_EQ(rote.source()->debug(), "InvalidMessageSizeError");
  EXPECT_EQ(rote.source()->source(), nullptr);

  EXPECT_EQ(OteError(OteError::InvalidPprfHash{}).source(), nullptr);
  EXPECT_EQ(OteError(OteError::InvalidChallengeResponse{}).source(), nullptr);
  EXPECT_EQ(CoteError(CoteError::CheckFailed{}).source(), nullptr);
  EXPECT_EQ(CoteError(CoteError::InvalidMessage{}).source(), nullptr);
  EXPECT_EQ(RoteError(RoteError::InvalidValue{}).source(), nullptr);
}

TEST(OteErrorTest, EmptyBoxIsRefusedAtConstruction) {
  EXPECT_THROW(OteError(OteError::CommunicationError{nullptr}), velto::Panic);
  EXPECT_THROW(CoteError(CoteError::CommError{nullptr}), velto::Panic);
  EXPECT_THROW(RoteError(RoteError::CommunicationError{nullptr}), velto::Panic);
}

}  // namespace
}  // namespace velto::ote
