"""A short tour of tabulon: create tables, load CSV files, ask questions.

Run from anywhere: the CSV files are found next to this script.
"""

import os

import tabulon

os.chdir(os.path.dirname(os.path.abspath(__file__)))

db = tabulon.DatabaseParser()


def command(text):
    """Runs a statement that changes the database and says how it went."""
    print(f"> {text}")
    try:
        db.executeCommand(text)
    except RuntimeError as error:
        print(f"  error: {error}")


def query(text, columns):
    """Runs a query and prints its rows, one line each."""
    print(f"> {text}")
    try:
        result = db.executeSelect(text)
    except RuntimeError as error:
        print(f"  error: {error}")
        return
    print("  " + " | ".join(columns))
    for row in range(result.getNumberOfRows()):
        result.setRow(row)
        # A missing value (NULL) reads as None.
        print("  " + " | ".join(str(result.getString(col)) for col in range(result.getNumberOfCols())))
    print(f"  ({result.getNumberOfRows()} rows)")


# The tree levels of `sales` are chosen by sampling the file; those of
# `sales_by_region` are given with "cat": region first, then product.
command("create table sales (id int, region string, product string, day date, "
        "units short, amount double, discount float) config from sales.csv")
command("load sales from sales.csv")
command("create table sales_by_region (id int, region string cat 1, product string cat 2, "
        "day date, units short, amount double, discount float)")
command("load sales_by_region from sales.csv")
command("create table regions (region string cat 1, manager string, target int)")
command("load regions from regions.csv")

query("select id, product, amount from sales where region = 'North West' order by amount desc",
      ["id", "product", "amount"])
query("select region, day, units from sales_by_region "
      "where (product = Gizmo or product = Gadget) and units >= 20 order by day",
      ["region", "day", "units"])
query("select id, manager, amount from sales join regions on region = region "
      "where amount > 200 order by amount desc, id",
      ["id", "manager", "amount"])

# Numbers come back as Python numbers, too.
print("> total amount per region, computed in Python")
try:
    result = db.executeSelect("select region, amount from sales")
    totals: dict[str, float] = {}
    for row in range(result.getNumberOfRows()):
        result.setRow(row)
        region, amount = result.getString(0), result.getFloat(1)
        if region is not None and amount is not None:
            totals[region] = totals.get(region, 0.0) + amount
    for region, total in sorted(totals.items()):
        print(f"  {region}: {total:.2f}")
except RuntimeError as error:
    print(f"  error: {error}")

# Mistakes are reported as RuntimeError with a plain message.
query("select id from sales where region = North AND units > 3", ["id"])
command("drop table sales_by_region")
query("select id from sales_by_region", ["id"])
