from recipes import centred
L = []
for n in range(5, 17):
    L += [f"ec{n}/expand", f"ec{n}/dw", f"ec{n}/add" if n in (5, 7, 8, 9, 11, 12, 14, 15) else f"ec{n}/project"]
L += ["conv1", "features"]
RECIPES = [(f"mid {l}/gap", centred(f"{l}/gap"), False) for l in L]
