from recipes import centred, flipavg, concat, grid, pca_white
L = ["block_12_add", "block_13_expand_relu", "block_13_depthwise_relu", "block_13_project_BN",
     "block_14_add", "block_15_add"]
RECIPES = []
for l in L:
    RECIPES += [
        (f"{l}/gap", centred(f"{l}/gap"), False),
        (f"{l}/gap sqrt", centred(f"{l}/gap", power=0.5), False),
        (f"{l}/gap std", centred(f"{l}/gap", std=True), False),
        (f"{l}/gem3", centred(f"{l}/gem3"), False),
        (f"{l}/max", centred(f"{l}/max"), False),
        (f"{l}/grid2", grid(f"{l}/grid2"), False),
        (f"{l}/gap+grid2", grid(f"{l}/grid2", f"{l}/gap"), False),
        (f"{l}/gap flip", flipavg(f"{l}/gap"), True),
    ]
