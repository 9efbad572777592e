// WinSock error texts: every listed number, the gaps between them and the fall-back.
#include <gtest/gtest.h>

#include "core/errors/winsock_errors.h"

using tarvel::WinSockErrorText;

TEST(WinSockErrorText, ListedNumbersGiveTheirTexts) {
    EXPECT_EQ(WinSockErrorText(10004), "Interrupted system call");
    EXPECT_EQ(WinSockErrorText(10035), "Operation would block");
    EXPECT_EQ(WinSockErrorText(10049), "Can't assign requested address");
    EXPECT_EQ(WinSockErrorText(10054), "Connection reset by peer");
    EXPECT_EQ(WinSockErrorText(10059), "Too many references: can't splice");
    EXPECT_EQ(WinSockErrorText(10060), "Connection timed out");
    EXPECT_EQ(WinSockErrorText(10061), "Connection refused");
    EXPECT_EQ(WinSockErrorText(10071), "Too many levels of remote in path");
    EXPECT_EQ(WinSockErrorText(10091), "Network sub-system is unusable");
    EXPECT_EQ(WinSockErrorText(10093), "WinSock not initialized");
    EXPECT_EQ(WinSockErrorText(11001), "Host not found");
    EXPECT_EQ(WinSockErrorText(11004), "No Data");
}

TEST(WinSockErrorText, ExactlyFiftyNumbersHaveTexts) {
    int known = 0;
    for (int n = 9000; n < 12000; ++n)
        if (WinSockErrorText(n) != "Not a WinSock error") ++known;
    EXPECT_EQ(known, 50);
}

TEST(WinSockErrorText, OtherNumbersFallBack) {
    for (int n : {0, -1, -10061, 10000, 10005, 10008, 10010, 10023, 10034, 10072, 10090, 10101, 11000, 11005})
        EXPECT_EQ(WinSockErrorText(n), "Not a WinSock error") << n;
}
