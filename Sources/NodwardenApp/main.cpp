#include <NodwardenApp/BuildInfo.hpp>

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::printf("Stayloom %s: the program is not assembled yet.\n",
                nodwarden::app::BuildInfo::version);
    return 0;
}
