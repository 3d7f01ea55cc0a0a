// One connected program of the connected-users test: attaches as the maker's user, registers its
// user string, tells the test so through a file, waits for the test's go, unregisters and ends.
//
//   kv_db_user_client CONNECTION USERSTRING READYFILE GOFILE
//
// Exit code 0 when it attached and saw the go within two minutes; the rows are the test's to check.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "db/IBComponents.h"
#include "db/IBManagers.h"
#include "db/KorvaneLogon.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: kv_db_user_client CONNECTION USERSTRING READYFILE GOFILE\n";
    return 2;
  }
  namespace fs = std::filesystem;
  try {
    kv::TIBDatabase database;
    kv::TIBTransaction transaction;
    kv::TDatabaseManager manager;
    database.SetDefaultTransaction(&transaction);
    manager.SetDatabase(&database);
    manager.SetTransaction(&transaction);
    manager.SetConnectionString(argv[1]);
    manager.SetUserName(kv::KorvaneUserName);
    manager.SetPassword(kv::KorvanePassword);
    manager.Connect();
    manager.RegisterUser(argv[2]);
    std::ofstream(argv[3]) << "registered\n";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!fs::exists(argv[4])) {
      if (std::chrono::steady_clock::now() > deadline) return 3;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    manager.UnRegisterUser(argv[2]);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "kv_db_user_client: " << e.what() << "\n";
    return 1;
  }
}
