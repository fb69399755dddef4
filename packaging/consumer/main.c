/* A plain C host of the installed library: asks what needs no game and no
 * controller and checks the answers. Prints "consumer: ok" and exits 0 when
 * every answer is the expected one. */
#include <stdio.h>
#include <string.h>

#include <rezadedudid.h>

static int failures = 0;

static void check(int good, const char* what) {
    printf("%s: %s\n", what, good ? "ok" : "WRONG");
    if (!good) ++failures;
}

int main(void) {
    char name[21] = {0};
    double* slots = NULL;
    int count = 0;
    const char* first = NULL;
    int names = 0;
    int taken = -1;

    getGameName(name);
    check(strcmp(name, "No Game online") == 0, "game name before any game");
    check(getGameID() == -1, "no game id");
    check(getGameDataCount() == 44, "game data count 44");
    getGameData(&slots, &count);
    check(slots != NULL && count == 43, "43 game slots");
    getGameDataNames(&first, &names);
    check(first != NULL && strcmp(first, "lateral_speed") == 0 && names == 43, "first slot name");
    check(setcheckFilterstring(0, 0, "GAIN(EMALP(VALUE;25);1.5)"), "filter string accepted");
    check(!setcheckFilterstring(0, 0, "GAIN(EMALP(VALUE;25)"), "bad filter string refused");
    check(GetCalculationSnapshots(&taken) == NULL && taken == 0, "no snapshots before the start");
    check(stopGamesource_Thread(), "stop without a start");
    if (failures == 0) printf("consumer: ok\n");
    return failures == 0 ? 0 : 1;
}
