#include "packages/package_database.h"

PackageDatabase& GetPackageDatabase() {
  // Never destroyed: records may still be reached from exit paths after static destruction began.
  static PackageDatabase* database = new PackageDatabase;
  return *database;
}
