#include "account/login_request.h"
#include "common/text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace orlin {
namespace {

// Device IDs as the engine prints them (their check characters are right).
constexpr wchar_t kServerId[] = L"GCANPO7-CZIGSCY-PJ6ZJYP-NHOVANG-GXNFXD6-QT3WJBF-GDAQYJH-JJLY5A6";
constexpr wchar_t kOtherId[] = L"HF545RU-IPF2XEP-XMPKNLX-JNH3A6O-IAGMSMY-QBX4NQB-YTLACH3-KBJ7CQR";

// Splits a form body and decodes its values, as a server would.
std::map<std::string, std::string> DecodeForm(const std::wstring& body) {
  std::map<std::string, std::string> fields;
  const std::string text(body.begin(), body.end());
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(start, end - start);
    const auto eq = pair.find('=');
    std::string value;
    for (std::size_t i = eq + 1; i < pair.size(); ++i) {
      if (pair[i] == '%' && i + 2 < pair.size()) {
        value.push_back(static_cast<char>(std::stoi(pair.substr(i + 1, 2), nullptr, 16)));
        i += 2;
      } else {
        value.push_back(pair[i]);
      }
    }
    fields[pair.substr(0, eq)] = value;
    start = end + 1;
  }
  return fields;
}

TEST(FormEncodeTest, KeepsUnreservedAsciiAndEncodesEveryOtherUtf8Byte) {
  EXPECT_EQ(FormEncode(L"AZaz09-_.~"), "AZaz09-_.~");
  EXPECT_EQ(FormEncode(L"a b&c=d+e%f/g?h"), "a%20b%26c%3Dd%2Be%25f%2Fg%3Fh");
  EXPECT_EQ(FormEncode(L"同步"), "%E5%90%8C%E6%AD%A5");
  EXPECT_EQ(FormEncode(L"\U0001F600"), "%F0%9F%98%80");
  EXPECT_EQ(FormEncode(L"\r\n\t"), "%0D%0A%09");
  EXPECT_EQ(FormEncode(L""), "");
}

TEST(RegistrationRequestTest, EveryValueArrivesIntactInTheFieldOrder) {
  const RegistrationFields fields{L"anna&bob=1", L"p@ss word+%", kServerId, L"Windows 10", L"DESK-同步"};
  const std::wstring body = RegistrationBody(fields);
  EXPECT_EQ(body.rfind(L"username=anna%26bob%3D1&password=p%40ss%20word%2B%25&deviceid=", 0), 0u) << body;
  EXPECT_NE(body.find(L"&os=Windows%2010&devicename=DESK-%E5%90%8C%E6%AD%A5"), std::wstring::npos) << body;

  const auto decoded = DecodeForm(body);
  EXPECT_EQ(decoded.size(), 5u);
  EXPECT_EQ(decoded.at("username"), "anna&bob=1");
  EXPECT_EQ(decoded.at("password"), "p@ss word+%");
  EXPECT_EQ(decoded.at("deviceid"), "GCANPO7-CZIGSCY-PJ6ZJYP-NHOVANG-GXNFXD6-QT3WJBF-GDAQYJH-JJLY5A6");
  EXPECT_EQ(decoded.at("devicename"), "DESK-\xE5\x90\x8C\xE6\xAD\xA5");
}

TEST(RegistrationRequestTest, UnknownSystemAndComputerNamesAreSentEmpty) {
  const std::wstring body = RegistrationBody({L"u", L"p", kServerId, L"", L""});
  EXPECT_NE(body.find(L"&os=&devicename="), std::wstring::npos) << body;
  EXPECT_EQ(body.substr(body.size() - 12), L"&devicename=");
}

TEST(RegistrationRequestTest, ThisComputerReportsItsOwnNames) {
  const auto fields = RegistrationFieldsForThisComputer(L"u", L"p", kServerId);
  EXPECT_EQ(fields.userName, L"u");
  EXPECT_EQ(fields.deviceId, kServerId);
  EXPECT_LE(fields.computerName.size(), 32u);
}

TEST(RegistrationUrlTest, AddressesWithAndWithoutScheme) {
  EXPECT_EQ(RegistrationUrl(L"192.168.1.20:5001"), L"https://192.168.1.20:5001/apps/orlin/register.php?");
  EXPECT_EQ(StoredServerAddress(L"192.168.1.20:5001"), L"192.168.1.20:5001");

  EXPECT_EQ(RegistrationUrl(L"http://10.0.0.2"), L"http://10.0.0.2/apps/orlin/register.php?");
  EXPECT_EQ(StoredServerAddress(L"http://10.0.0.2"), L"10.0.0.2");

  EXPECT_EQ(RegistrationUrl(L"https://nas.example:8443"), L"https://nas.example:8443/apps/orlin/register.php?");
  EXPECT_EQ(StoredServerAddress(L"https://nas.example:8443"), L"nas.example:8443");

  // A scheme anywhere in the address keeps it as typed; only a leading one
  // is removed from the stored address.
  EXPECT_EQ(RegistrationUrl(L"nas/http:x"), L"nas/http:x/apps/orlin/register.php?");
  EXPECT_EQ(StoredServerAddress(L"nas/http:x"), L"nas/http:x");
  EXPECT_EQ(StoredServerAddress(L"http:"), L"");
}

TEST(DeviceIdTest, AcceptsOnlyIdsWithTheRightShapeAndCheckCharacters) {
  EXPECT_TRUE(IsValidDeviceId(kServerId));
  EXPECT_TRUE(IsValidDeviceId(kOtherId));

  std::wstring wrongCheck = kServerId;
  wrongCheck[62] = wrongCheck[62] == L'A' ? L'B' : L'A';  // the last check character
  EXPECT_FALSE(IsValidDeviceId(wrongCheck));
  std::wstring swapped = kServerId;
  std::swap(swapped[0], swapped[1]);  // a transposition the check catches
  EXPECT_FALSE(IsValidDeviceId(swapped));

  std::wstring lower = kServerId;
  lower[0] = L'g';
  EXPECT_FALSE(IsValidDeviceId(lower));
  std::wstring digit = kServerId;
  digit[1] = L'1';  // 0, 1, 8 and 9 are not in the alphabet
  EXPECT_FALSE(IsValidDeviceId(digit));
  std::wstring noDash = kServerId;
  noDash[7] = L'A';
  EXPECT_FALSE(IsValidDeviceId(noDash));
  EXPECT_FALSE(IsValidDeviceId(std::wstring(kServerId).substr(1)));
  EXPECT_FALSE(IsValidDeviceId(L""));
}

TEST(RegistrationAnswerTest, SuccessNeedsSixtyThreeCharactersOfAValidDeviceId) {
  auto answer = ParseRegistrationAnswer(std::wstring(kServerId) + L"\r\n");
  EXPECT_EQ(answer.verdict, RegistrationVerdict::kAccepted);
  EXPECT_EQ(answer.serverDeviceId, "GCANPO7-CZIGSCY-PJ6ZJYP-NHOVANG-GXNFXD6-QT3WJBF-GDAQYJH-JJLY5A6");

  // Line breaks anywhere are removed before the answer is judged.
  const std::wstring id = kServerId;
  answer = ParseRegistrationAnswer(id.substr(0, 20) + L"\n" + id.substr(20));
  EXPECT_EQ(answer.verdict, RegistrationVerdict::kAccepted);

  EXPECT_EQ(ParseRegistrationAnswer(id + L" ").verdict, RegistrationVerdict::kRefused);
  EXPECT_EQ(ParseRegistrationAnswer(L"").verdict, RegistrationVerdict::kRefused);
  EXPECT_EQ(ParseRegistrationAnswer(L"Failed").verdict, RegistrationVerdict::kRefused);
  // "Failed" refuses even at the length of a device ID.
  const std::wstring failed63 = L"Failed" + std::wstring(57, L'A');
  ASSERT_EQ(failed63.size(), 63u);
  EXPECT_EQ(ParseRegistrationAnswer(failed63).verdict, RegistrationVerdict::kRefused);
  // 63 characters of something else never reach the engine configuration.
  std::wstring page = L"<html><body>Service Unavailable</body></html>";
  page += std::wstring(63 - page.size(), L'.');
  ASSERT_EQ(page.size(), 63u);
  answer = ParseRegistrationAnswer(page);
  EXPECT_EQ(answer.verdict, RegistrationVerdict::kMalformedDeviceId);
  EXPECT_TRUE(answer.serverDeviceId.empty());
  std::wstring wrongCheck = kOtherId;
  wrongCheck[62] = wrongCheck[62] == L'A' ? L'B' : L'A';
  EXPECT_EQ(ParseRegistrationAnswer(wrongCheck).verdict, RegistrationVerdict::kMalformedDeviceId);
}

TEST(LoginFailureTableTest, NoFailureWritesAccountFilesOrSucceeds) {
  const auto& transport = LoginFailureRuleFor(LoginFailure::kTransport);
  EXPECT_STREQ(transport.messageKey, L"Login_Failed_msg");
  EXPECT_TRUE(transport.withTransportText);
  EXPECT_FALSE(transport.showCancel);

  const auto& refused = LoginFailureRuleFor(LoginFailure::kRefused);
  EXPECT_STREQ(refused.messageKey, L"Login_Failed_msg");
  EXPECT_FALSE(refused.withTransportText);
  EXPECT_TRUE(refused.showCancel);

  const auto& config = LoginFailureRuleFor(LoginFailure::kConfigUnreadable);
  EXPECT_STREQ(config.messageKey, L"SyncConfig_Failed_Msg");
  EXPECT_STREQ(LoginFailureRuleFor(LoginFailure::kConfigDamaged).messageKey, L"SyncConfig_Damaged_Msg");

  ASSERT_EQ(LoginFailureTable().size(), 4u);
  for (const auto& rule : LoginFailureTable()) {
    EXPECT_EQ(&LoginFailureRuleFor(rule.failure), &rule);
    EXPECT_FALSE(rule.writesAccountFiles);
    EXPECT_EQ(rule.loginResult, 0);
  }
}

TEST(ShownDetailTest, ShortTextsStayAndLongOnesAreCut) {
  EXPECT_EQ(ShownDetail(L"The operation timed out "), L"The operation timed out ");
  EXPECT_EQ(ShownDetail(L"Failed: no\r\n\tsuch  user"), L"Failed: no such user");
  EXPECT_EQ(ShownDetail(L"a &lt; b &#38; c &#x4E2D; &bogus; 5 < 6"), L"a < b & c \u4E2D &bogus; 5 < 6");
  EXPECT_EQ(ShownDetail(L"bell\a and \x7F gone"), L"bell and gone");
  EXPECT_EQ(ShownDetail(L"<p>cut <b"), L"cut");
  const std::wstring longText(5000, L'x');
  const std::wstring shown = ShownDetail(longText);
  EXPECT_EQ(shown, std::wstring(kMaxShownDetailChars, L'x') + L"...");
  // An emoji at the cut is kept whole or dropped whole, never halved.
  const std::wstring emojis = std::wstring(kMaxShownDetailChars - 1, L'y') + L"\U0001F600\U0001F600";
  const std::wstring cut = ShownDetail(emojis);
  EXPECT_TRUE(IsValidUtf8(WideToUtf8(cut)));
  EXPECT_LT(WideToUtf8(ShownDetail(std::wstring(100000, L'\u4E2D'))).size(), 1024u);
}

TEST(VersioningRequestTest, UrlAndBody) {
  EXPECT_EQ(VersioningUrl(L"192.168.1.20:5001"), L"https://192.168.1.20:5001/apps/orlin/settings.php?");
  const std::wstring folder = L"anna&bob" + std::wstring(kServerId);
  const auto body = VersioningBody({L"anna&bob", L"pw", 0, folder});
  EXPECT_EQ(body, L"username=anna%26bob&password=pw&versions=0&folderid=anna%26bob" + std::wstring(kServerId));
  EXPECT_NE(VersioningBody({L"u", L"p", 12, L"f"}).find(L"&versions=12&"), std::wstring::npos);
  EXPECT_NE(VersioningBody({L"u", L"p", -3, L"f"}).find(L"&versions=-3&"), std::wstring::npos);
  EXPECT_EQ(DecodeForm(body).at("folderid"), "anna&bob" + std::string(folder.begin() + 8, folder.end()));
}

TEST(VersioningAnswerTest, OnlyExactlySuccessIsAccepted) {
  EXPECT_TRUE(IsVersioningAccepted(L"Success"));
  EXPECT_TRUE(IsVersioningAccepted(L"Success\r\n"));
  EXPECT_FALSE(IsVersioningAccepted(L"success"));
  EXPECT_FALSE(IsVersioningAccepted(L"Success."));
  EXPECT_FALSE(IsVersioningAccepted(L" Success"));
  EXPECT_FALSE(IsVersioningAccepted(L""));
}

TEST(VersioningAnswerTest, MessagesFollowTheExchange) {
  using Keys = std::vector<std::wstring>;
  EXPECT_EQ(VersioningMessageKeys(VersioningExchange::kNoCredentials, L""), Keys{});
  EXPECT_EQ(VersioningMessageKeys(VersioningExchange::kNoStatus200, L"Success"),
            (Keys{L"Connect_Server_Failed_msg", L"versioning_Failed_msg"}));
  EXPECT_EQ(VersioningMessageKeys(VersioningExchange::kInternetError, L""), Keys{L"versioning_Failed_msg"});
  EXPECT_EQ(VersioningMessageKeys(VersioningExchange::kAnswered, L"Success\n"), Keys{L"versioning_Success_msg"});
  EXPECT_EQ(VersioningMessageKeys(VersioningExchange::kAnswered, L"Failed: no"), Keys{L"versioning_Failed_msg"});
}

}  // namespace
}  // namespace orlin
